#pragma once

#include <QFileDevice>
#include <QString>
#include <memory>

#include "DifferenceSink.h"
#include "DifferingRecords.h"
#include "ErrorReport.h"
#include "FixScriptSession.h"
#include "RecordStore.h"
#include "ReportWriter.h"

namespace windows {

// The lists, and beside them the script and the records kept whole. Those
// are extra: when one cannot be written (a full disk) its reason is kept for
// "Save As…" or the records' window, and the lines and error reports of the
// comparison go on as if there were none.
class ResultTargets final : public compare::DifferenceSink {
public:
    ResultTargets(compare::DifferenceSink& lists, compare::FixScriptSession* script,
                  compare::RecordLayout layout);

    void FieldChanged(const compare::RecordName& record, const QString& fieldName,
                      const data::FieldValue& first, const data::FieldValue& second) override {
        lists_.FieldChanged(record, fieldName, first, second);
        toExtras(
            [&](compare::DifferenceSink& s) { s.FieldChanged(record, fieldName, first, second); });
    }
    void RecordDeleted(const compare::RecordName& record) override {
        lists_.RecordDeleted(record);
        toExtras([&](compare::DifferenceSink& s) { s.RecordDeleted(record); });
    }
    void RecordAdded(const compare::RecordName& record) override {
        lists_.RecordAdded(record);
        toExtras([&](compare::DifferenceSink& s) { s.RecordAdded(record); });
    }
    void RecordNotUnique(const compare::RecordName& record, bool inFirstTable) override {
        lists_.RecordNotUnique(record, inFirstTable);
        toExtras([&](compare::DifferenceSink& s) { s.RecordNotUnique(record, inFirstTable); });
    }
    void FieldOnlyIn(const QString& fieldName, bool inFirstTable) override {
        lists_.FieldOnlyIn(fieldName, inFirstTable);
        toExtras([&](compare::DifferenceSink& s) { s.FieldOnlyIn(fieldName, inFirstTable); });
    }
    void RecordsDiffer(const compare::RecordRow& first, const compare::RecordRow& second) override {
        lists_.RecordsDiffer(first, second);
        toExtras([&](compare::DifferenceSink& s) { s.RecordsDiffer(first, second); });
    }

    // The script's end, all of it on disk.
    void finishScript(const compare::RunSummary& summary, QFileDevice& file);
    // Why the script could not be written; empty when it was.
    const QString& scriptFailure() const { return script_.failure; }
    // After the last difference: the records kept, all of them on disk;
    // null when they could not be kept, and recordsFailure() says why.
    std::shared_ptr<compare::RecordStore> takeRecords();
    const QString& recordsFailure() const { return records_.failure; }

private:
    struct Extra {
        compare::DifferenceSink* sink;
        QString failure;
    };
    template <class Fn>
    void toExtras(Fn&& fn) {
        to(script_, fn);
        to(records_, fn);
    }
    template <class Fn>
    static void to(Extra& extra, Fn&& fn) {
        if (extra.sink == nullptr || !extra.failure.isEmpty()) return;
        try {
            fn(*extra.sink);
        } catch (const compare::ReportWriteError& e) {
            extra.failure = e.reason();
        } catch (...) {
            extra.failure = app::DescribeFailure(std::current_exception());
        }
    }

    compare::DifferenceSink& lists_;
    Extra script_, records_;
    compare::FixScriptSession* session_;
    std::shared_ptr<compare::RecordStore> store_;
    compare::DifferingRecordSink keep_;
};

}  // namespace windows
