// The report as one HTML page a person opens in a browser: self-contained
// (its style inline, no script, nothing fetched), UTF-8, written as the run
// goes, a row at a time, so that memory stays the same whatever the number
// of differences.
#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

#include "CompareOptions.h"
#include "DifferenceSink.h"
#include "DifferingRecords.h"
#include "ReportWriter.h"
#include "SideNames.h"

namespace compare {

class RecordStore;

// How many differing records a page shows of one comparison (of each pair,
// on a page of two databases), and how many of the other lines; the page
// says how many there were in all.
inline constexpr std::int64_t kHtmlRecordsShown = 1000;

// A text as HTML text or attribute value: & < > " ' as references, control
// characters and the other hidden ones as the lines show them
// (WithVisibleControls).
QString HtmlText(QStringView text);

// A count with its thousands grouped: "1,234,567".
QString WholeCount(std::int64_t n);

// The page's frame: the head with its title and style, and the body's column
// (whose parts the style orders: the summary shows first though written
// last). The end closes them.
void WriteHtmlStart(ReportWriter& out, const QString& title);
void WriteHtmlEnd(ReportWriter& out);

// One comparison's differences as a part of a page: the lines that are no
// records (fields only one table has, keys not unique), the differing
// records as a table -- key columns (by position the record number), the
// kind, then each field as two columns, one a table -- at most `shown` of
// each, and at the end the run's summary. Takes the engine's calls (a
// DifferenceSink; the records are put together by a DifferingRecordSink)
// or whole records (a RecordConsumer, as a store gives them back). A write
// the device does not take whole throws ReportWriteError.
class HtmlDifferences final : public DifferenceSink, public RecordConsumer {
public:
    HtmlDifferences(QIODevice& out, RecordLayout layout, SideNames names,
                    std::int64_t shown = kHtmlRecordsShown);
    HtmlDifferences(const HtmlDifferences&) = delete;  // its record sink feeds this one
    HtmlDifferences& operator=(const HtmlDifferences&) = delete;

    void FieldChanged(const RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override;
    void RecordDeleted(const RecordName& record) override;
    void RecordAdded(const RecordName& record) override;
    void RecordNotUnique(const RecordName& record, bool inFirstTable) override;
    void FieldOnlyIn(const QString& fieldName, bool inFirstTable) override;
    void RecordsDiffer(const RecordRow& first, const RecordRow& second) override;

    // A whole record, shown while fewer than `shown` were.
    void Take(const DifferingRecord& record) override;
    // A line that is no record, as the text report writes it.
    void AddLine(const QString& line);
    // After the last difference: how many records there were (the summary's
    // changed, added and deleted), the other lines and the summary.
    void Finish(const RunSummary& summary);

    // The engine's calls taken (for the exit status), as the text report counts them.
    std::int64_t differenceCount() const { return differences_; }

private:
    // Whether the page still shows records: past its bound none is put together.
    bool wanted() const { return taken_ < shown_; }
    void open();
    void openTable();
    QString cell(const ValueCell& value, bool differs, bool absent) const;

    ReportWriter out_;
    RecordLayout layout_;
    SideNames names_;
    std::int64_t shown_;
    DifferingRecordSink records_;
    bool opened_ = false;
    bool tableOpened_ = false;
    std::int64_t taken_ = 0;  // records taken
    std::int64_t differences_ = 0;
    std::int64_t lineCount_ = 0;  // lines taken, of which the first `shown` kept
    QStringList lines_;
};

// A page of one comparison: the frame around its differences.
class HtmlReport {
public:
    // Writes the head at once.
    HtmlReport(QIODevice& out, const RecordLayout& layout, const SideNames& names,
               std::int64_t shown = kHtmlRecordsShown);
    // Where the run's differences, whole records and other lines go.
    HtmlDifferences& differences() { return differences_; }
    // The counts, the summary and the page's end.
    void Finish(const RunSummary& summary);

private:
    ReportWriter page_;
    HtmlDifferences differences_;
};

// The page of a comparison whose differing records a store kept, after the
// run (the results window's "Save As…"): the lines that are no records (the
// fields only one table has, the keys not unique, in the text report's
// words), the first `shown` records of the store, the run's summary.
void WriteHtmlReport(QIODevice& out, const RecordStore& store, const SideNames& names,
                     const QStringList& otherLines, const RunSummary& summary,
                     std::int64_t shown = kHtmlRecordsShown);

}  // namespace compare
