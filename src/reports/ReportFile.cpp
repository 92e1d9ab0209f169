#include "ReportFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <optional>

namespace compare {

namespace {

// The descriptor of this process that a path names through /proc, following
// links (/dev/stdout -> /proc/self/fd/1, /dev/fd/2), if it names one. Opening
// such a path anew would start a file it names at its beginning and lose a
// redirection's appending; the descriptor itself keeps both.
std::optional<int> OwnDescriptor(const QString& path) {
    const QString own = QStringLiteral("/proc/%1/fd").arg(::getpid());
    QString p = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(p);
        const QString folder = QFileInfo(info.path()).canonicalFilePath();
        if (folder.isEmpty()) return std::nullopt;
        if (folder == own) {
            bool number = false;
            const int fd = info.fileName().toInt(&number);
            return number && fd >= 0 ? std::optional<int>(fd) : std::nullopt;
        }
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(p).constData(), target, sizeof target);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof target) return std::nullopt;
        p = QDir(folder).absoluteFilePath(QFile::decodeName(QByteArray(target, n)));
    }
    return std::nullopt;
}

// Something that is there and is neither a regular file nor a folder: a
// device, a FIFO, a socket.
bool IsSpecial(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

}  // namespace

ReportFile::ReportFile(QString path) : path_(std::move(path)) {}

ReportFile::~ReportFile() { cancel(); }

bool ReportFile::open() {
    cancel();
    error_.clear();
    int fd = -1;
    if (const std::optional<int> own = OwnDescriptor(path_)) {
        fd = ::fcntl(*own, F_DUPFD_CLOEXEC, 0);
    } else if (IsSpecial(path_)) {
        // Neither created nor truncated: it is written into as it is.
        fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    } else {
        auto file = std::make_unique<QSaveFile>(path_);
        if (!file->open(QIODevice::WriteOnly)) {
            error_ = file->errorString();
            return false;
        }
        file_ = std::move(file);
        replaces_ = true;
        return true;
    }
    if (fd < 0) {
        error_ = qt_error_string(errno);
        return false;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        error_ = file->errorString();
        ::close(fd);
        return false;
    }
    file_ = std::move(file);
    replaces_ = false;
    return true;
}

QIODevice& ReportFile::device() {
    Q_ASSERT(file_);
    return *file_;
}

bool ReportFile::commit() {
    if (!file_) {
        if (error_.isEmpty()) error_ = QStringLiteral("The report is not open");
        return false;
    }
    bool whole = false;
    if (replaces_) {
        auto& file = static_cast<QSaveFile&>(*file_);
        whole = file.commit();
        if (!whole) error_ = file.errorString();
    } else {
        // The buffer's last bytes reach the device here: a full disk shows now.
        whole = file_->flush() && file_->error() == QFileDevice::NoError;
        if (!whole) error_ = file_->errorString();
        file_->close();
    }
    file_.reset();
    return whole;
}

void ReportFile::cancel() {
    // A QSaveFile not committed removes its temporary file and leaves the target.
    file_.reset();
}

QString ReportFile::errorString() const {
    if (!error_.isEmpty() || !file_) return error_;
    return file_->errorString();
}

}  // namespace compare
