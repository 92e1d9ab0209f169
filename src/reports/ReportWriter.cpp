#include "ReportWriter.h"

#include <QDir>
#include <QTemporaryFile>
#include <tuple>

#include "DifferenceLines.h"

namespace compare {

namespace {

QByteArray LineBytes(const QString& line) { return line.toUtf8() + '\n'; }

}  // namespace

ReportWriteError::ReportWriteError(const QString& reason)
    : std::runtime_error(("Cannot write the report: " + reason).toStdString()), reason_(reason) {}

ReportWriter::ReportWriter(QIODevice& out, ReportFormat format) : out_(out), format_(format) {
    if (const auto header = ReportHeader(format)) put(LineBytes(*header));
}

void ReportWriter::write(const Difference& difference) {
    put(LineBytes(FormatDifference(difference, format_)));
}

void ReportWriter::writeLine(const QString& line) { put(LineBytes(line)); }

void ReportWriter::writeEnd(const RunSummary& summary, const QString& firstTable,
                            const QString& secondTable, bool withSummary) {
    for (const QString& line : FormatEnd(summary, firstTable, secondTable, format_, withSummary)) {
        put(LineBytes(line));
    }
}

void ReportWriter::put(QByteArrayView bytes) {
    if (!failure_.isEmpty()) throw ReportWriteError(failure_);
    if (out_.write(bytes.data(), bytes.size()) != bytes.size()) {
        failure_ = out_.errorString();
        if (failure_.isEmpty()) failure_ = QStringLiteral("Unknown error");
        throw ReportWriteError(failure_);
    }
}

ReportSink::ReportSink(QIODevice& out, ReportFormat format, QString firstTable, QString secondTable)
    : writer_(out, format),
      firstTable_(std::move(firstTable)),
      secondTable_(std::move(secondTable)) {}

ReportSink::~ReportSink() = default;

Difference ReportSink::about(Difference::Kind kind, const RecordName& record,
                             bool inFirstTable) const {
    Difference d;
    d.kind = kind;
    d.record = record;
    d.table = inFirstTable ? firstTable_ : secondTable_;
    d.inFirstTable = inFirstTable;
    return d;
}

void ReportSink::FieldOnlyIn(const QString& fieldName, bool inFirstTable) {
    Difference d = about(Difference::Kind::FieldOnly, RecordName(), inFirstTable);
    d.field = fieldName;
    ++differences_;
    writer_.write(d);
}

void ReportSink::FieldChanged(const RecordName& record, const QString& fieldName,
                              const data::FieldValue& first, const data::FieldValue& second) {
    Difference d;
    d.kind = Difference::Kind::Changed;
    d.record = record;
    d.field = fieldName;
    if (!first.isNull()) d.from = formatter_.text(first);
    if (!second.isNull()) d.to = formatter_.text(second);
    std::tie(d.fromType, d.toType) = TypesApart(first, second, d.from, d.to);
    ++differences_;
    writer_.write(d);
}

void ReportSink::RecordDeleted(const RecordName& record) {
    toRecords(about(Difference::Kind::Deleted, record, false));
}

void ReportSink::RecordAdded(const RecordName& record) {
    toRecords(about(Difference::Kind::Added, record, false));
}

void ReportSink::RecordNotUnique(const RecordName& record, bool inFirstTable) {
    toRecords(about(Difference::Kind::NotUnique, record, inFirstTable));
}

void ReportSink::toRecords(const Difference& difference) {
    if (!writer_.failure_.isEmpty()) throw ReportWriteError(writer_.failure_);
    const QByteArray bytes = LineBytes(FormatDifference(difference, writer_.format()));
    ++differences_;
    if (!records_) {
        records_ = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                    QStringLiteral("/dorvantis-records-XXXXXX"));
        if (!records_->open()) {
            writer_.failure_ = records_->errorString();
            throw ReportWriteError(writer_.failure_);
        }
    }
    if (records_->write(bytes) != bytes.size()) {
        writer_.failure_ = records_->errorString();
        throw ReportWriteError(writer_.failure_);
    }
}

void ReportSink::finish(const RunSummary& summary, bool withSummary) {
    appendRecords();
    writer_.writeEnd(summary, firstTable_, secondTable_, withSummary);
}

void ReportSink::appendRecords() {
    if (!writer_.failure_.isEmpty()) throw ReportWriteError(writer_.failure_);
    if (!records_) return;
    const std::unique_ptr<QTemporaryFile> records = std::move(records_);
    if (!records->flush() || !records->seek(0)) {
        writer_.failure_ = records->errorString();
        throw ReportWriteError(writer_.failure_);
    }
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = records->read(buffer.data(), buffer.size());
        if (n < 0) {
            writer_.failure_ = records->errorString();
            throw ReportWriteError(writer_.failure_);
        }
        if (n == 0) break;
        writer_.put(QByteArrayView(buffer.constData(), n));
    }
}

}  // namespace compare
