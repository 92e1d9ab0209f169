#include "CursorFile.h"

#include <QFile>
#include <QPixmap>
#include <stdexcept>

namespace windows {

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("File not found: " + path.toStdString());
    const QByteArray bytes = file.readAll();
    QPixmap picture;
    if (!picture.loadFromData(bytes, "CUR") && !picture.loadFromData(bytes)) {
        throw std::runtime_error("Invalid picture: " + path.toStdString());
    }
    // Qt's reader drops the hot spot; a cursor file (type 2) keeps it in its
    // first directory entry, bytes 10 to 13.
    int hotX = 0, hotY = 0;
    const auto u16 = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                                (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    if (bytes.size() >= 14 && u16(2) == 2) {
        hotX = u16(10);
        hotY = u16(12);
    }
    return QCursor(picture, hotX, hotY);
}

}  // namespace windows
