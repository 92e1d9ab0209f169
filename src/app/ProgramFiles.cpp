#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstring>

namespace app {

namespace {

bool IsInstalled(const char* name) {
    return std::strcmp(name, kPointerFile) == 0 || std::strcmp(name, kHelpPicture) == 0;
}

}  // namespace

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString ProgramFile(const QString& folder, const char* name) {
    const QString beside = folder + QLatin1Char('/') + QString::fromLatin1(name);
    if (!IsInstalled(name) || FileExists(beside)) return beside;
    // Relative to the program rather than an absolute path, so that the same
    // build works under any prefix and in an unpacked package.
    const QString installed = QDir::cleanPath(
        folder + QStringLiteral("/" DORVANTIS_DATA_FROM_PROGRAM "/") + QString::fromLatin1(name));
    return FileExists(installed) ? installed : beside;
}

bool FileExists(const QString& path) {
    try {
        const QFileInfo info(path);
        return info.exists() && info.lastModified().isValid();
    } catch (...) {
        return false;
    }
}

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/dorvantis/dorvantis.png")); }

}  // namespace app
