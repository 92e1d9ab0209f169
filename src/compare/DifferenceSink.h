#pragma once

#include <QString>
#include <cstdint>

#include "FieldValue.h"

namespace compare {

// Where a comparison's differences go, one call per difference, in the
// order they are found. Record numbers count from 1. A sink that throws
// fails the comparison step that called it.
class DifferenceSink {
public:
    virtual ~DifferenceSink() = default;

    // Field fieldName of the record differs: first is the first table's value.
    virtual void FieldChanged(std::int64_t record, const QString& fieldName,
                              const data::FieldValue& first, const data::FieldValue& second) = 0;
    // The first table has a record beyond the end of the second.
    virtual void RecordDeleted(std::int64_t record) = 0;
    // The second table has a record beyond the end of the first.
    virtual void RecordAdded(std::int64_t record) = 0;
    // Fields paired by name: a field only one table has (the first, or the second).
    virtual void FieldOnlyIn(const QString& fieldName, bool inFirstTable) = 0;
};

}  // namespace compare
