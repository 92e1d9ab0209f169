#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "DifferenceSink.h"
#include "ReportFormat.h"
#include "ValueText.h"

class QTemporaryFile;

namespace compare {

// A report line that could not be written whole. what() is "Cannot write the
// report: " and the device's reason; reason() is the device's reason alone.
class ReportWriteError : public std::runtime_error {
public:
    explicit ReportWriteError(const QString& reason);
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// Writes a report into a device: the format's header at once, then one line a
// difference, UTF-8, each ending in a line feed. A write the device does not
// take whole throws ReportWriteError; so does every write after it, so that a
// report never goes on past a gap.
class ReportWriter {
public:
    ReportWriter(QIODevice& out, ReportFormat format);

    void write(const Difference& difference);
    // A line as it is (a script's).
    void writeLine(const QString& line);
    // The report's end (FormatEnd): after the last difference.
    void writeEnd(const RunSummary& summary, const QString& firstTable, const QString& secondTable,
                  bool withSummary);
    ReportFormat format() const { return format_; }

private:
    friend class ReportSink;
    void put(QByteArrayView bytes);

    QIODevice& out_;
    ReportFormat format_;
    QString failure_;  // the device's reason once a write failed
};

// The report of a comparison as the engine finds it, in the order of the
// results window's two lists: the field differences list (fields only one
// table has, field changes) first, then the added / deleted records list
// (deleted, added and not unique records), each in the order found. Field
// lines are written at once; record lines wait in a temporary file, so that a
// million added records cost disk, not memory, and finish() appends them.
// Added and deleted records name the second table; a field only one table
// has and a key that is not unique name the table they are about. Values
// become texts as the results window shows them (ValueFormatter, the user's
// regional settings).
class ReportSink : public DifferenceSink {
public:
    ReportSink(QIODevice& out, ReportFormat format, QString firstTable, QString secondTable);
    ~ReportSink() override;

    void FieldChanged(const RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override;
    void RecordDeleted(const RecordName& record) override;
    void RecordAdded(const RecordName& record) override;
    void RecordNotUnique(const RecordName& record, bool inFirstTable) override;
    void FieldOnlyIn(const QString& fieldName, bool inFirstTable) override;

    // Appends the record lines and the report's end (ReportWriter::writeEnd);
    // once, after the comparison's last difference. Throws ReportWriteError
    // when any line of the report could not be written.
    void finish(const RunSummary& summary, bool withSummary);
    // The differences reported so far.
    std::int64_t differences() const { return differences_; }

private:
    Difference about(Difference::Kind kind, const RecordName& record, bool inFirstTable) const;
    void toRecords(const Difference& difference);
    void appendRecords();

    ReportWriter writer_;
    QString firstTable_;
    QString secondTable_;
    const ValueFormatter formatter_;
    std::unique_ptr<QTemporaryFile> records_;  // opened with the first record line
    std::int64_t differences_ = 0;
};

}  // namespace compare
