#pragma once

#include <QStringList>
#include <stdexcept>

#include "DifferenceSink.h"

namespace testing_support {

// Records the calls in a readable form: "changed 3 Price 10>12", "deleted 4", "added 5".
class RecordingSink : public compare::DifferenceSink {
public:
    void FieldChanged(const compare::RecordName& record, const QString& field,
                      const data::FieldValue& first, const data::FieldValue& second) override {
        if (failFieldChanges) throw std::runtime_error("list is full");
        calls << QStringLiteral("changed %1 %2 %3>%4")
                     .arg(record.text(), field, text(first), text(second));
    }
    void RecordDeleted(const compare::RecordName& record) override {
        calls << QStringLiteral("deleted %1").arg(record.text());
    }
    void RecordAdded(const compare::RecordName& record) override {
        calls << QStringLiteral("added %1").arg(record.text());
    }
    void RecordNotUnique(const compare::RecordName& record, bool inFirstTable) override {
        calls << QStringLiteral("not unique %1 in %2")
                     .arg(record.text(), inFirstTable ? "first" : "second");
    }
    void FieldOnlyIn(const QString& field, bool inFirstTable) override {
        calls << QStringLiteral("only %1 in %2").arg(field, inFirstTable ? "first" : "second");
    }

    QStringList calls;
    bool failFieldChanges = false;

private:
    static QString text(const data::FieldValue& v) {
        return v.isNull() ? QStringLiteral("NULL") : v.asText().toString();
    }
};

}  // namespace testing_support
