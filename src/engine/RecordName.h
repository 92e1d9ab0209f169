#pragma once

#include <QString>
#include <cstdint>

#include "FieldValue.h"
#include "ValueText.h"

namespace compare {

// How a line names a record: by its position, the same in both tables
// (counted from 1), or, when records are paired by key, by its key as the
// lines write it ("id=7", "(CustomerID=5,OrderID=1006)", "Name=\"Bob\"").
struct RecordName {
    std::int64_t number = 0;  // 0 when named by key
    QString key;

    RecordName() = default;
    // A position: records paired by position are named by a number.
    RecordName(std::int64_t position) : number(position) {}  // NOLINT: implicit on purpose
    static RecordName Keyed(QString keyText) {
        RecordName r;
        r.key = std::move(keyText);
        return r;
    }

    bool byKey() const { return number == 0; }
    // The record as a line writes it; a position below 1 with no key throws
    // std::invalid_argument.
    QString text() const;
};

// A value of a key as a record's name writes it: NULL bare, a text in double
// quotes with each quote inside doubled, anything else as the formatter
// writes it. So the text 'NULL' never reads as a NULL, and a quote inside
// one column's text never reads as the start of the next column.
QString KeyValueText(const data::FieldValue& value, const ValueFormatter& formatter);

}  // namespace compare
