#include "DifferenceReport.h"

#include "DifferenceLines.h"
#include "Form3.h"

namespace compare {

void ReportFieldChange(Form3& results, std::int64_t record, const QString& fieldName,
                       const data::FieldValue& first, const data::FieldValue& second,
                       const ValueFormatter& formatter) {
    results.ListView1->linesModel()->appendLine(
        FieldChangedLine(record, fieldName, first, second, formatter));
}

void ReportDeletedRecord(Form3& results, std::int64_t record, const QString& tableName) {
    results.ListView2->linesModel()->appendLine(RecordDeletedLine(record, tableName));
}

void ReportAddedRecord(Form3& results, std::int64_t record, const QString& tableName) {
    results.ListView2->linesModel()->appendLine(RecordAddedLine(record, tableName));
}

}  // namespace compare
