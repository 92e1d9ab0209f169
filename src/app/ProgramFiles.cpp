#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace app {

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString ProgramFile(const QString& folder, const char* name) {
    return folder + QLatin1Char('/') + QString::fromLatin1(name);
}

QString InstalledProgramFile(const QString& folder, const char* name) {
    const QString beside = ProgramFile(folder, name);
    if (FileExists(beside)) return beside;
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

}  // namespace app
