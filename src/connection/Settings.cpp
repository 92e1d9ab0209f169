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

void restrictToOwner(const QString& fileName) {
    const QString folder = QFileInfo(fileName).absolutePath();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (QFile::exists(fileName)) {
        QFile::setPermissions(fileName, QFile::ReadOwner | QFile::WriteOwner);
    }
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
    : settings_(std::make_unique<QSettings>(storePath(), QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::fileName() const { return settings_->fileName(); }

QString SettingsStore::read(const SettingKey& key) const {
    const QString name =
        QString::fromLatin1(kSection) + QLatin1Char('/') + QString::fromLatin1(key.key);
    const QVariant value = settings_->value(name, QString::fromUtf8(key.defaultValue));
    // A hand-edited value with a comma comes back as a list; it is one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void SettingsStore::write(const SettingKey& key, const QString& text) {
    // Create the folder owner-only before the first write puts a password there.
    QDir().mkpath(QFileInfo(fileName()).absolutePath());
    restrictToOwner(fileName());
    settings_->setValue(
        QString::fromLatin1(kSection) + QLatin1Char('/') + QString::fromLatin1(key.key), text);
    settings_->sync();
    restrictToOwner(fileName());
}

}  // namespace connection
