#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

#include "CompareOptions.h"
#include "RecordName.h"

namespace compare {

// One difference, as the results lists and saved reports know it.
struct Difference {
    enum class Kind { Changed, Added, Deleted, FieldOnly, NotUnique, Line };
    Kind kind = Kind::Line;
    RecordName record;
    QString field;                    // Changed: the first table's field name
    std::optional<QString> from, to;  // Changed: the values' report texts; none: NULL
    QString table;                    // Added, Deleted: the second table as listed; FieldOnly,
                                      // NotUnique: the table it is about
    bool inFirstTable = false;        // FieldOnly, NotUnique: that table is the first
    QString line;                     // Line: a line of text as it is
    // Changed: the values' types ("text", "integer", ...) where their texts
    // alone would read the same; else empty.
    QString fromType, toType;
};

// How differences are written to a file or to standard output.
enum class ReportFormat {
    Text,  // the lines exactly as the results lists hold them
    Csv,   // kind,record,field,from,to; texts quoted (RFC 4180), NULL an empty unquoted field;
           // a field only one table has: field-only, no record, the table in from or to;
           // a key that is not unique: not-unique, the key, the table in from or to
    Json,  // one object a line: {"kind":"changed","record":3,"field":...,"from":...,"to":...}
           // (a record named by its key: "record":"id=7")
    Html,  // one page for a person (HtmlReport): the records whole, the summary; its own
           // writers write it, never a line a difference
};

// A text as one CSV field: in quotes, quotes inside doubled (line breaks stay
// inside the quotes).
QString CsvText(const QString& text);
// A text as a JSON string literal.
QString JsonText(QStringView text);

// "text", "csv", "json", "html"; nothing for any other name.
std::optional<ReportFormat> ReportFormatNamed(QStringView name);
// By the file's extension: .csv, .json, .html (or .htm), anything else text.
ReportFormat ReportFormatForFile(const QString& path);

// The line a format starts with (the CSV header), or none.
std::optional<QString> ReportHeader(ReportFormat format);
// One difference as one line of the format, without the line end. Text shows
// control characters as visible symbols; CSV and JSON keep them, quoted.
// HTML: the text line, as a page lists the lines that are no records.
QString FormatDifference(const Difference& difference, ReportFormat format);

// The lines a report ends with: the one that says the run stopped at its
// limit (when it did), then, when withSummary, the summary -- text: one
// line; CSV: a row of kind "summary" a measure (its name in the field
// column, its value in the last); JSON: one object of kind "summary"; HTML:
// none (a page ends with a summary of its own).
QStringList FormatEnd(const RunSummary& summary, const QString& firstTable,
                      const QString& secondTable, ReportFormat format, bool withSummary);

}  // namespace compare
