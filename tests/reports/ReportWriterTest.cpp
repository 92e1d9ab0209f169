// The report writer and where reports go: the order of a report, write
// failures, and targets that must be written into rather than replaced.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "EngineCalls.h"
#include "ReportFile.h"
#include "ReportWriter.h"

namespace {

using compare::ReportFile;
using compare::ReportFormat;
using compare::ReportSink;
using compare::ReportWriteError;
using compare::RunSummary;

QString Report(ReportFormat format, void (*calls)(compare::DifferenceSink&)) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ReportSink sink(buffer, format, QStringLiteral("dbo.A"), QStringLiteral("dbo.B"));
    calls(sink);
    sink.finish(RunSummary{}, false);
    EXPECT_EQ(sink.differences(), 10);
    return QString::fromUtf8(buffer.data());
}

// Takes what it is allowed to, then fails every write until allowed again.
class FailingDevice : public QIODevice {
public:
    FailingDevice() {
        open(QIODevice::WriteOnly);
        setErrorString(QStringLiteral("disk on fire"));
    }
    bool failing = true;
    QByteArray taken;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (failing) return -1;
        taken.append(data, size);
        return size;
    }
};

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// The descriptor a report file writes through.
struct stat Opened(ReportFile& file) {
    struct stat st {};
    auto* device = dynamic_cast<QFileDevice*>(&file.device());
    if (device == nullptr || ::fstat(device->handle(), &st) != 0) st = {};
    return st;
}

}  // namespace

// Records paired by key come in key order, field changes and record lines
// interleaved; the report holds the field differences list whole, then the
// added / deleted records list, as the results window does.
TEST(ReportSink, FieldListFirstThenRecordListInEveryFormat) {
    EXPECT_EQ(Report(ReportFormat::Text, testing_support::CallsByKey),
              QStringLiteral("Field \"Region\" only in dbo.B\n"
                             "Field \"Old\" only in dbo.A\n"
                             "Record Id=1,Field \"Note\" has changed from \"a \"q\"\" to NULL\n"
                             "Record Id=4,Field \"Amount\" has changed from \"10\" to \"12\"\n"
                             "Record (Id=6,Name=\"b\"),Field \"Data\" has changed from \"0x00FF\" "
                             "to \"x\u240Ay\"\n"
                             "Record Id=2 is not unique in dbo.A\n"
                             "Record Id=3 deleted from dbo.B\n"
                             "Record Id=5 added from dbo.B\n"
                             "Record Id=7 is not unique in dbo.B\n"
                             "Record Id=8 added from dbo.B\n"));
    EXPECT_EQ(Report(ReportFormat::Csv, testing_support::CallsByKey),
              QStringLiteral("kind,record,field,from,to\n"
                             "field-only,,\"Region\",,\"dbo.B\"\n"
                             "field-only,,\"Old\",\"dbo.A\",\n"
                             "changed,\"Id=1\",\"Note\",\"a \"\"q\"\"\",\n"
                             "changed,\"Id=4\",\"Amount\",\"10\",\"12\"\n"
                             "changed,\"(Id=6,Name=\"\"b\"\")\",\"Data\",\"0x00FF\",\"x\ny\"\n"
                             "not-unique,\"Id=2\",,\"dbo.A\",\n"
                             "deleted,\"Id=3\",,,\n"
                             "added,\"Id=5\",,,\n"
                             "not-unique,\"Id=7\",,,\"dbo.B\"\n"
                             "added,\"Id=8\",,,\n"));
    EXPECT_EQ(Report(ReportFormat::Json, testing_support::CallsByKey),
              QStringLiteral(
                  "{\"kind\":\"field-only\",\"field\":\"Region\",\"table\":\"dbo.B\"}\n"
                  "{\"kind\":\"field-only\",\"field\":\"Old\",\"table\":\"dbo.A\"}\n"
                  "{\"kind\":\"changed\",\"record\":\"Id=1\",\"field\":\"Note\",\"from\":\"a "
                  "\\\"q\\\"\",\"to\":null}\n"
                  "{\"kind\":\"changed\",\"record\":\"Id=4\",\"field\":\"Amount\",\"from\":\"10\","
                  "\"to\":\"12\"}\n"
                  "{\"kind\":\"changed\",\"record\":\"(Id=6,Name=\\\"b\\\")\",\"field\":\"Data\","
                  "\"from\":\"0x00FF\",\"to\":\"x\\ny\"}\n"
                  "{\"kind\":\"not-unique\",\"record\":\"Id=2\",\"table\":\"dbo.A\"}\n"
                  "{\"kind\":\"deleted\",\"record\":\"Id=3\",\"table\":\"dbo.B\"}\n"
                  "{\"kind\":\"added\",\"record\":\"Id=5\",\"table\":\"dbo.B\"}\n"
                  "{\"kind\":\"not-unique\",\"record\":\"Id=7\",\"table\":\"dbo.B\"}\n"
                  "{\"kind\":\"added\",\"record\":\"Id=8\",\"table\":\"dbo.B\"}\n"));
}

// A report that lost a line must never end as if it were whole: the write
// that fails throws with the device's reason, and so does everything after
// it, even when the device takes writes again.
TEST(ReportSink, AWriteThatFailsFailsTheReport) {
    {
        FailingDevice device;
        try {
            ReportSink sink(device, ReportFormat::Csv, "A", "B");
            ADD_FAILURE() << "the header's failed write went unnoticed";
        } catch (const ReportWriteError& e) {
            EXPECT_STREQ(e.what(), "Cannot write the report: disk on fire");
            EXPECT_EQ(e.reason(), "disk on fire");
        }
    }
    {
        // Record lines wait for finish(), which must see their failure.
        FailingDevice device;
        ReportSink sink(device, ReportFormat::Text, "A", "B");
        sink.RecordAdded(1);
        EXPECT_THROW(sink.finish(RunSummary{}, false), ReportWriteError);
    }
    {
        FailingDevice device;
        ReportSink sink(device, ReportFormat::Text, "A", "B");
        EXPECT_THROW(sink.FieldOnlyIn(QStringLiteral("X"), true), ReportWriteError);
        device.failing = false;
        EXPECT_THROW(sink.FieldOnlyIn(QStringLiteral("Y"), true), ReportWriteError);
        EXPECT_THROW(sink.RecordAdded(1), ReportWriteError);
        EXPECT_THROW(sink.finish(RunSummary{}, false), ReportWriteError);
        EXPECT_EQ(device.taken, QByteArray());
    }
    {
        // A full device takes the bytes into the file's buffer; the error
        // comes when they are flushed, and commit must report it.
        ReportFile file(QStringLiteral("/dev/full"));
        ASSERT_TRUE(file.open()) << file.errorString().toStdString();
        ASSERT_TRUE(S_ISCHR(Opened(file).st_mode));
        ReportSink sink(file.device(), ReportFormat::Text, "A", "B");
        testing_support::CallsByKey(sink);
        sink.finish(RunSummary{}, false);
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(file.errorString(), qt_error_string(ENOSPC));
    }
}

// A regular file is replaced whole or not at all, with nothing left beside it.
TEST(ReportFile, ARegularFileIsReplacedOnlyWhenTheReportIsWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("r.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\n");
    }
    {
        ReportFile file(path);
        ASSERT_TRUE(file.open()) << file.errorString().toStdString();
        file.device().write("half a rep");
        file.cancel();
        EXPECT_EQ(Contents(path), "old\n");
        EXPECT_EQ(Entries(dir.path()), QStringList{"r.txt"});
    }
    {
        ReportFile file(path);
        ASSERT_TRUE(file.open());
        file.device().write("never committed");
    }
    EXPECT_EQ(Contents(path), "old\n");
    EXPECT_EQ(Entries(dir.path()), QStringList{"r.txt"});

    ReportFile file(path);
    ASSERT_TRUE(file.open());
    file.device().write("new\n");
    ASSERT_TRUE(dynamic_cast<QFileDevice&>(file.device()).flush());
    EXPECT_EQ(Contents(path), "old\n");
    EXPECT_TRUE(file.commit()) << file.errorString().toStdString();
    EXPECT_EQ(Contents(path), "new\n");
    EXPECT_EQ(Entries(dir.path()), QStringList{"r.txt"});

    ReportFile nowhere(dir.filePath(QStringLiteral("no such folder/r.txt")));
    EXPECT_FALSE(nowhere.open());
    EXPECT_FALSE(nowhere.errorString().isEmpty());
}

// A FIFO or a device is written into, never replaced; each check that the
// node itself is what was opened comes before anything is committed.
TEST(ReportFile, DevicesAndPipesAreWrittenIntoNotReplaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        ReportFile file(fifo);
        ASSERT_TRUE(file.open()) << file.errorString().toStdString();
        ASSERT_TRUE(S_ISFIFO(Opened(file).st_mode));
        compare::ReportWriter writer(file.device(), ReportFormat::Csv);
        EXPECT_TRUE(file.commit()) << file.errorString().toStdString();
    }
    char got[64] = {};
    EXPECT_EQ(::read(reader, got, sizeof got - 1), 26);
    EXPECT_STREQ(got, "kind,record,field,from,to\n");
    ::close(reader);
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Entries(dir.path()), QStringList{"pipe"});

    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    ReportFile file(QStringLiteral("/dev/null"));
    ASSERT_TRUE(file.open()) << file.errorString().toStdString();
    const struct stat opened = Opened(file);
    ASSERT_TRUE(S_ISCHR(opened.st_mode));
    ASSERT_EQ(opened.st_rdev, null.st_rdev);
    file.device().write("gone\n");
    EXPECT_TRUE(file.commit()) << file.errorString().toStdString();
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// /dev/stdout is this process's standard output as it is: a redirection that
// appends to a file keeps appending, and the file is neither truncated nor
// replaced.
TEST(ReportFile, StandardOutputIsWrittenThroughItsDescriptor) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    const int target =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(target, 0);
    ASSERT_EQ(::write(target, "before\n", 7), 7);
    struct stat wanted {};
    ASSERT_EQ(::fstat(target, &wanted), 0);

    // Nothing may print between the swap of descriptor 1 and its return.
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    ::dup2(target, STDOUT_FILENO);
    bool opened = false, same = false, committed = false;
    QString error;
    {
        ReportFile file(QStringLiteral("/dev/stdout"));
        opened = file.open();
        if (opened) {
            const struct stat st = Opened(file);
            same = st.st_dev == wanted.st_dev && st.st_ino == wanted.st_ino;
            if (same) {
                file.device().write("report\n");
                committed = file.commit();
            }
        }
        error = file.errorString();
    }
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(target);

    ASSERT_TRUE(opened) << error.toStdString();
    ASSERT_TRUE(same) << "/dev/stdout was not opened as the process's standard output";
    EXPECT_TRUE(committed) << error.toStdString();
    EXPECT_EQ(Contents(path), "before\nreport\n");
    EXPECT_EQ(Entries(dir.path()), QStringList{"out.txt"});
}
