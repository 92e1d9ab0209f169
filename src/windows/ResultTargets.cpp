#include "ResultTargets.h"

namespace windows {

ResultTargets::ResultTargets(compare::DifferenceSink& lists, compare::FixScriptSession* script,
                             compare::RecordLayout layout)
    : lists_(lists),
      script_{script ? &script->sink() : nullptr, {}},
      records_{&keep_, {}},
      session_(script),
      store_(std::make_shared<compare::RecordStore>(std::move(layout))),
      keep_(store_->layout(), *store_) {}

void ResultTargets::finishScript(const compare::RunSummary& summary, QFileDevice& file) {
    to(script_, [&](compare::DifferenceSink&) {
        session_->Finish(summary);
        if (!file.flush()) throw compare::ReportWriteError(file.errorString());
    });
}

std::shared_ptr<compare::RecordStore> ResultTargets::takeRecords() {
    to(records_, [&](compare::DifferenceSink&) { store_->Finish(); });
    if (!records_.failure.isEmpty()) store_.reset();
    return std::move(store_);
}

}  // namespace windows
