#pragma once

#include <QFileDevice>
#include <QString>
#include <memory>

namespace compare {

// Where a report goes, by the path the user gave.
//  - A regular file, or a path with nothing there yet: the report is written
//    to a temporary file beside it, which replaces the file only at commit(),
//    when the report is whole (a symbolic link is followed, its target
//    replaced). A failed or cancelled report leaves the old file as it was and
//    no temporary file behind.
//  - Anything else is written into as it is and never replaced: a character
//    device (/dev/null, a terminal), a FIFO (opening it waits for a reader, as
//    a shell's redirection does), and this process's own descriptors
//    (/dev/stdout, /dev/fd/N, /proc/self/fd/N), which are written through the
//    descriptor itself, so that a redirection's appending and position hold.
class ReportFile {
public:
    explicit ReportFile(QString path);
    ~ReportFile();  // cancels a report not committed
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // False with errorString() when the target cannot be written.
    bool open();
    // The open device the report is written into.
    QIODevice& device();
    // Once open: whether the report replaces a file (a device, a pipe or
    // standard output is written into instead).
    bool replaces() const { return replaces_; }
    // Flushes everything written and puts the report in place; false with
    // errorString() when any of it could not be written.
    bool commit();
    // Abandons the report: a replaced file stays as it was.
    void cancel();
    QString errorString() const;

private:
    QString path_;
    std::unique_ptr<QFileDevice> file_;
    bool replaces_ = false;  // written beside the target, renamed over it
    QString error_;
};

}  // namespace compare
