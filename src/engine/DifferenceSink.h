#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

#include "RecordName.h"
#include "ResultTable.h"

namespace compare {

// One record of a block being compared, or none.
struct RecordRow {
    const data::ResultTable* block = nullptr;
    std::size_t row = 0;

    explicit operator bool() const { return block != nullptr; }
    data::FieldValue value(int field) const { return block->value(field, row); }
};

// Where a comparison's differences go, one call per difference, in the
// order they are found. A record is named by its number (from 1) or, when
// records are paired by key, by its key. A sink that throws fails the
// comparison step that called it.
class DifferenceSink {
public:
    virtual ~DifferenceSink() = default;

    // Field fieldName of the record differs: first is the first table's value.
    virtual void FieldChanged(const RecordName& record, const QString& fieldName,
                              const data::FieldValue& first, const data::FieldValue& second) = 0;
    // The first table has a record the second has not (by position: beyond
    // the end of the second).
    virtual void RecordDeleted(const RecordName& record) = 0;
    // The second table has a record the first has not.
    virtual void RecordAdded(const RecordName& record) = 0;
    // Records paired by key: a key that more than one record of a table has
    // (reported once per table).
    virtual void RecordNotUnique(const RecordName& record, bool inFirstTable) = 0;
    // Fields paired by name: a field only one table has (the first, or the second).
    virtual void FieldOnlyIn(const QString& fieldName, bool inFirstTable) = 0;

    // The records behind the lines just reported for one record -- a pair
    // with changed fields, or a record only one table has (the other is
    // empty) -- for a sink that keeps or writes whole records (a script that
    // mends the second table, the records side by side). Valid during the
    // call only.
    virtual void RecordsDiffer(const RecordRow& /*first*/, const RecordRow& /*second*/) {}
};

}  // namespace compare
