#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <utility>

#include "FieldValue.h"
#include "RecordName.h"
#include "ValueText.h"

namespace compare {

// The lines of the difference report. A record is named by its number,
// counted from 1 and written in plain decimal digits (a number below 1 throws
// std::invalid_argument), or by its key as RecordName gives it.
// Names and values go in as they are: quotation marks inside them are not
// escaped. Their control characters (U+0000-U+001F, U+007F) are written as
// the Unicode control pictures (line feed as U+240A, tab U+2409, ...), and
// the other characters that break a line or reorder it unseen (C1 controls,
// U+2028, U+2029, the bidirectional controls such as U+202E) as their code
// point in angle brackets ("<U+202E>"), so that one difference is always one
// line that reads in the order it is written.

// Record 3,Field "Price" has changed from "10" to "12"
// A null is written as NULL, without quotation marks.
QString FieldChangedLine(const RecordName& record, QStringView fieldName,
                         const data::FieldValue& before, const data::FieldValue& after,
                         const ValueFormatter& formatter);
// The same in the default locale (see ValueText).
QString FieldChangedLine(const RecordName& record, QStringView fieldName,
                         const data::FieldValue& before, const data::FieldValue& after);

// The same from the values' report texts (no text: NULL). Each type given
// follows its value: from "1" (text) to "1" (integer).
QString FieldChangedLine(const RecordName& record, QStringView fieldName,
                         const std::optional<QString>& before, const std::optional<QString>& after,
                         QStringView beforeType = {}, QStringView afterType = {});

// The words for a value's type, for two values whose texts read the same
// though their types differ ("1" the text against 1 the integer); empty
// when the texts differ, either is NULL or the types are the same.
QString TypeWord(data::ValueKind kind);
std::pair<QString, QString> TypesApart(const data::FieldValue& before,
                                       const data::FieldValue& after,
                                       const std::optional<QString>& beforeText,
                                       const std::optional<QString>& afterText);

// The text with its control characters as the Unicode control pictures, and
// the other hidden ones as "<U+XXXX>", as the lines write names and values.
QString WithVisibleControls(QStringView text);

// Record 7 deleted from dbo.Orders
QString RecordDeletedLine(const RecordName& record, QStringView tableName);

// Field "Region" only in sales.Orders (fields paired by name)
QString FieldOnlyInLine(QStringView fieldName, QStringView tableName);

// Record 7 added from dbo.Orders
QString RecordAddedLine(const RecordName& record, QStringView tableName);

// Record id=7 is not unique in dbo.Orders (records paired by key)
QString RecordNotUniqueLine(const RecordName& record, QStringView tableName);

}  // namespace compare
