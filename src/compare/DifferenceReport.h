#pragma once

#include <QString>
#include <cstdint>

#include "FieldValue.h"
#include "ValueRules.h"

namespace compare {

class Form3;

// Each call appends one line to a list of the results window (creating the
// window on the first line): field changes to the field differences list,
// deleted and added records to the added / deleted records list.
void ReportFieldChange(Form3& results, std::int64_t record, const QString& fieldName,
                       const data::FieldValue& first, const data::FieldValue& second,
                       const ValueFormatter& formatter);
void ReportDeletedRecord(Form3& results, std::int64_t record, const QString& tableName);
void ReportAddedRecord(Form3& results, std::int64_t record, const QString& tableName);

}  // namespace compare
