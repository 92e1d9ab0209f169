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

void ResultsWindowSink::FieldChanged(const compare::RecordName& record, const QString& fieldName,
                                     const data::FieldValue& first,
                                     const data::FieldValue& second) {
    registry_.resultsWindow().fieldDifferences()->linesModel()->appendFieldChange(
        record, fieldName, first, second, formatter_);
}

void ResultsWindowSink::RecordDeleted(const compare::RecordName& record) {
    registry_.resultsWindow().recordDifferences()->linesModel()->appendRecordDeleted(
        record, secondTableName_());
}

void ResultsWindowSink::RecordAdded(const compare::RecordName& record) {
    registry_.resultsWindow().recordDifferences()->linesModel()->appendRecordAdded(
        record, secondTableName_());
}

void ResultsWindowSink::RecordNotUnique(const compare::RecordName& record, bool inFirstTable) {
    registry_.resultsWindow().recordDifferences()->linesModel()->appendRecordNotUnique(
        record, inFirstTable ? firstTableName_() : secondTableName_(), inFirstTable);
}

}  // namespace windows
