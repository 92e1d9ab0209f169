#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

namespace app {

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString ProgramFile(const QString& folder, const char* name) {
    return folder + QLatin1Char('/') + QString::fromLatin1(name);
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
