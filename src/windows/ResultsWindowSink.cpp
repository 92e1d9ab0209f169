#include "ResultsWindowSink.h"

#include "ResultsWindow.h"
#include "WindowRegistry.h"

namespace windows {

ResultsWindowSink::ResultsWindowSink(WindowRegistry& registry,
                                     std::function<QString()> secondTableName,
                                     std::function<QString()> firstTableName)
    : registry_(registry),
      secondTableName_(std::move(secondTableName)),
      firstTableName_(std::move(firstTableName)) {}

void ResultsWindowSink::FieldOnlyIn(const QString& fieldName, bool inFirstTable) {
    registry_.resultsWindow().fieldDifferences()->linesModel()->appendFieldOnlyIn(
        fieldName, inFirstTable ? firstTableName_() : secondTableName_(), inFirstTable);
}

void ResultsWindowSink::FieldChanged(std::int64_t record, const QString& fieldName,
                                     const data::FieldValue& first,
                                     const data::FieldValue& second) {
    registry_.resultsWindow().fieldDifferences()->linesModel()->appendFieldChange(
        record, fieldName, first, second, formatter_);
}

void ResultsWindowSink::RecordDeleted(std::int64_t record) {
    registry_.resultsWindow().recordDifferences()->linesModel()->appendRecordDeleted(
        record, secondTableName_());
}

void ResultsWindowSink::RecordAdded(std::int64_t record) {
    registry_.resultsWindow().recordDifferences()->linesModel()->appendRecordAdded(
        record, secondTableName_());
}

}  // namespace windows
