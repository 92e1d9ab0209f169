#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace connection {

namespace {

constexpr char kApplication[] = "Veltrane";
constexpr char kSection[] = "Dorvantis";

// How the file stands: by its owner's permission bits as well as by a real
// attempt, so that the owner's choice holds even for a user (root) whom the
// system would let through.
SettingsStore::Access accessOf(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists()) return SettingsStore::Access::Usable;
    QFile file(fileName);
    if (!info.isFile() || !(info.permissions() & QFile::ReadOwner) ||
        !file.open(QIODevice::ReadOnly)) {
        return SettingsStore::Access::Unreadable;
    }
    if (!(info.permissions() & QFile::WriteOwner)) return SettingsStore::Access::ReadOnly;
    return SettingsStore::Access::Usable;
}

// The per-user file: <config folder>/Veltrane/Dorvantis.conf, section [Dorvantis].
// The path is worked out at each construction (QSettings would fix the
// folder once per process), so that tests can point it elsewhere.
QString storePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QString::fromLatin1(kApplication) + QLatin1Char('/') +
           QString::fromLatin1(kSection) + QStringLiteral(".conf");
}

}  // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(storePath(), QSettings::IniFormat)),
      access_(accessOf(storePath())) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::fileName() const { return settings_->fileName(); }

QString SettingsStore::read(const SettingKey& key) const {
    if (access_ == Access::Unreadable) return QString::fromUtf8(key.defaultValue);
    const QString name =
        QString::fromLatin1(kSection) + QLatin1Char('/') + QString::fromLatin1(key.key);
    const QVariant value = settings_->value(name, QString::fromUtf8(key.defaultValue));
    // A hand-edited value with a comma comes back as a list; it is one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool SettingsStore::write(const SettingKey& key, const QString& text) {
    if (access_ == Access::ReadOnly) return false;
    const QFileInfo file(fileName());
    const QString folder = file.absolutePath();
    if (!QFileInfo::exists(folder)) {
        // Owner-only before the first write puts a password there.
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const bool created = !file.exists();
    if (created) {
        QFile make(fileName());
        if (!make.open(QIODevice::WriteOnly)) return false;
        make.close();
        QFile::setPermissions(fileName(), QFile::ReadOwner | QFile::WriteOwner);
    }
    settings_->setValue(
        QString::fromLatin1(kSection) + QLatin1Char('/') + QString::fromLatin1(key.key), text);
    settings_->sync();
    // Written now: what the store could not read before is replaced by the
    // user's own change (QSettings keeps the file's mode when it replaces it).
    access_ = Access::Usable;
    return settings_->status() == QSettings::NoError;
}

}  // namespace connection
