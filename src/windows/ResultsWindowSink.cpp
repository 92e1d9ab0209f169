#include "ResultsWindowSink.h"

#include "ResultsWindow.h"
#include "WindowRegistry.h"

namespace windows {

ResultsWindowSink::ResultsWindowSink(WindowRegistry& registry,
                                     std::function<QString()> secondTableName)
    : registry_(registry), secondTableName_(std::move(secondTableName)) {}

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
