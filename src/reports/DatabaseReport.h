// What a comparison of two databases reports: how each pair of tables came
// out, and the text a person reads of it.
#pragma once

#include <QIODevice>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "CompareOptions.h"
#include "LoginDetails.h"
#include "ReportFormat.h"
#include "ReportWriter.h"
#include "Side.h"
#include "TableCatalogue.h"

namespace compare {

// A table pair of the two databases, or a table only one has.
struct TableEntry {
    std::optional<catalogue::TableName> first, second;
    QString listed() const { return first ? first->listed() : second->listed(); }
};

// How one pair of tables (or a table alone) came out.
struct PairOutcome {
    enum class Kind { Same, Differ, NotCompared, OnlyInFirst, OnlyInSecond };
    Kind kind = Kind::Same;
    QString table;  // as the first database's list names it (the second's, alone there)
    bool byKey = false;
    RunSummary summary;
    std::int64_t columnsOnlyInOne = 0;
    bool bothEmpty = false;  // neither table holds a row
    // Why it was not compared; the database a table alone is in; for a pair
    // the same since no row of either met its condition, that.
    QString note;
};

// A database as the reports name it; a login that names none reaches the
// server's default for its user ("the second database").
QString DatabaseLabel(const connection::LoginDetails& login, Side side);

// "same", "differ: 2 changed (2 fields), 1 added, 1 deleted", "not compared:
// <reason>", "only in <database>", as one line (names as the lines show them).
QString ResultText(const PairOutcome& o);
// "by key", "by position", or empty for a table alone.
QString PairingText(const PairOutcome& o);

// The report's columns for a person: the table padded to width, the pairing,
// the result.
QString PairRow(const QString& table, const QString& pairing, const QString& result,
                qsizetype width);
QString PairHeaderRow(qsizetype width);
QString PairLine(const PairOutcome& o, qsizetype width);
// The width of the table column for these entries.
qsizetype TableColumnWidth(const std::vector<TableEntry>& entries);

// How many pairs came out each way.
struct PairTotals {
    std::int64_t same = 0, differ = 0, notCompared = 0, onlyInFirst = 0, onlyInSecond = 0;
    void count(PairOutcome::Kind kind);
    std::int64_t tables() const { return same + differ + notCompared + onlyInFirst + onlyInSecond; }
};

// "5 tables: 2 the same, 1 differs, 0 not compared, 1 only in demo, 1 only in Sales."
QString TotalsText(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second);
// The totals as the text report's last line (names as the lines show them).
QString TotalsLine(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second);

// "Orders (3 of 6)": the entry at index (from 0) of count, as a progress
// line or bar names it (the name as the lines show it).
QString PairProgressText(const QString& table, std::size_t index, std::size_t count);

// The report of two databases as it is written, a pair at a time: for a
// person aligned columns, for scripts CSV and JSON (fields of their own), each
// pair's difference lines under its line when asked for, the totals last. A
// write the device does not take whole throws ReportWriteError.
// HTML is one page: each pair's section with its records (HtmlDifferences)
// as the pair is done, and at the end the table of all pairs and the totals,
// shown first by the page's style; a pair's row is kept until then.
class DatabaseReportWriter {
public:
    // Writes the format's header at once; nameWidth: TableColumnWidth.
    DatabaseReportWriter(QIODevice& out, ReportFormat format, qsizetype nameWidth);

    void pair(const PairOutcome& o);
    // A pair's difference lines as a report of the format wrote them (its
    // header aside), each naming the table. HTML: the pair's part of a page
    // as HtmlDifferences wrote it, in a section of its own; after pair().
    void details(QIODevice& lines, const QString& table);
    // Writes the totals; returns them as the text line says them.
    QString totals(const PairTotals& counts, const connection::LoginDetails& first,
                   const connection::LoginDetails& second);

private:
    QString csvLine(const PairOutcome& o) const;
    QString jsonLine(const PairOutcome& o) const;
    void htmlOverview(const PairTotals& counts, const connection::LoginDetails& first,
                      const connection::LoginDetails& second);

    ReportWriter writer_;
    ReportFormat format_;
    qsizetype width_;
    // HTML: each pair's outcome, and whether its section was written.
    std::vector<std::pair<PairOutcome, bool>> overview_;
};

}  // namespace compare
