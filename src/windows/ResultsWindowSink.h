#pragma once

#include <QString>
#include <functional>

#include "DifferenceSink.h"
#include "ValueText.h"

namespace windows {

class WindowRegistry;

// Writes each difference as one line into a list of the results window
// (creating the window on the first line): field changes into the field
// differences list, deleted, added and not unique records into the added /
// deleted records list, naming the second table as secondTableName gives it at
// that moment.
class ResultsWindowSink : public compare::DifferenceSink {
public:
    ResultsWindowSink(WindowRegistry& registry, std::function<QString()> secondTableName,
                      std::function<QString()> firstTableName = {});

    void FieldChanged(const compare::RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override;
    void RecordDeleted(const compare::RecordName& record) override;
    void RecordAdded(const compare::RecordName& record) override;
    void FieldOnlyIn(const QString& fieldName, bool inFirstTable) override;
    void RecordNotUnique(const compare::RecordName& record, bool inFirstTable) override;

private:
    WindowRegistry& registry_;
    std::function<QString()> secondTableName_;
    std::function<QString()> firstTableName_;
    const compare::ValueFormatter formatter_;  // the user's regional settings, derived once
};

}  // namespace windows
