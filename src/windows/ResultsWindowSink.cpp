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
    const auto text = [&](const data::FieldValue& v) -> std::optional<QString> {
        if (v.isNull()) return std::nullopt;
        return formatter_.text(v);
    };
    const std::optional<QString> before = text(first), after = text(second);
    registry_.resultsWindow().fieldDifferences()->linesModel()->appendFieldChange(
        record, fieldName, before ? std::optional<QStringView>(*before) : std::nullopt,
        after ? std::optional<QStringView>(*after) : std::nullopt);
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
