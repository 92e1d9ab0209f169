#pragma once

#include <QHash>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "FieldValue.h"
#include "ReportFormat.h"
#include "ValueText.h"

namespace compare {

// A run of lines, first to last inclusive, counted from 0.
struct LineRange {
    qsizetype first = 0;
    qsizetype last = 0;
};

// The lines of one results list, in the order they were appended.
//
// A million lines are normal for a large table with one changed column, so a
// line is not kept as its text: a difference is kept as what it is made of
// (record number or key, field name, the two value texts in UTF-8; names are kept
// once), packed into large shared blocks, and its text is put together when
// it is shown, copied or saved -- the same text DifferenceLines writes. A
// field change of two short values costs some 30 bytes.
//
// Plain storage: the results window's list model wraps it for the views.
class ResultLines {
public:
    ResultLines();
    ~ResultLines();

    // A line as it is.
    void appendLine(QStringView line);
    // Record 3,Field "Price" has changed from "10" to "12" (no value: NULL).
    void appendFieldChange(const RecordName& record, const QString& fieldName,
                           std::optional<QStringView> before, std::optional<QStringView> after);
    // The same from the two values, as the formatter writes them; bytes are
    // kept as bytes (their hex text would take four times the room).
    void appendFieldChange(const RecordName& record, const QString& fieldName,
                           const data::FieldValue& before, const data::FieldValue& after,
                           const ValueFormatter& formatter);
    // Field "Region" only in sales.Orders; inFirstTable tells which table it is.
    void appendFieldOnlyIn(const QString& fieldName, const QString& tableName, bool inFirstTable);
    // Record 7 deleted from Orders / Record 7 added from Orders.
    void appendRecordDeleted(const RecordName& record, const QString& tableName);
    void appendRecordAdded(const RecordName& record, const QString& tableName);
    // Record id=7 is not unique in Orders; inFirstTable tells which table it is.
    void appendRecordNotUnique(const RecordName& record, const QString& tableName,
                               bool inFirstTable);
    void clear();

    qsizetype lineCount() const { return static_cast<qsizetype>(offsets_.size()); }
    // The whole text of line i (empty outside the list): what copying and
    // saving give.
    QString line(qsizetype i) const;
    // Line i as what it is made of (for saving in another format).
    Difference difference(qsizetype i) const;
    // Line i as the list shows it: a line longer than kShownChars is its
    // beginning, then "… (N more characters)".
    QString shownLine(qsizetype i) const;
    static constexpr std::size_t kShownChars = 2000;
    // Bytes the lines take, bookkeeping included.
    std::size_t storedBytes() const;

    // The lines of the given ranges (in any order, overlaps allowed), each
    // once, in list order, joined by line feeds, with no line feed at the end.
    QString joinedLines(std::vector<LineRange> ranges) const;

private:
    class Writer;
    QString compose(qsizetype i, std::size_t cap, std::size_t* full) const;
    char* reserve(std::size_t bytes);
    void commit(const char* p, std::size_t used, std::size_t reserved);
    void appendRecordLine(std::uint8_t kind, const RecordName& record, const QString& tableName);
    std::uint32_t nameIndex(const QString& name);

    std::vector<std::unique_ptr<char[]>> blocks_;     // shared, many lines each
    std::size_t blockUsed_ = 0;                       // bytes used in the last one
    std::vector<std::unique_ptr<char[]>> bigBlocks_;  // one long line each
    std::size_t bigBytes_ = 0;
    std::vector<const char*> offsets_;  // where each line's record starts
    std::vector<QString> names_;        // field and table names, each once
    QHash<QString, std::uint32_t> nameIndex_;
};

}  // namespace compare
