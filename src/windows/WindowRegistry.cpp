#include "WindowRegistry.h"

#include "LoginWindow.h"
#include "OverviewWindow.h"
#include "ResultsWindow.h"
#include "TableSelectionWindow.h"

namespace windows {

WindowRegistry::WindowRegistry(Services services) : services_(std::move(services)) {}

WindowRegistry::~WindowRegistry() = default;

namespace {

// Creates the window on first use and runs its load at once; the instance is
// stored before the load, so that the load itself reaches the same window.
template <class Form, class... Args>
Form& instance(std::unique_ptr<Form>& slot, WindowRegistry& registry, Args... args) {
    if (!slot) {
        slot = std::make_unique<Form>(registry, args...);
        slot->Form_Load();
    }
    return *slot;
}

}  // namespace

LoginWindow& WindowRegistry::loginWindow() { return instance(login_, *this); }
TableSelectionWindow& WindowRegistry::tableSelectionWindow() {
    return instance(tableSelection_, *this);
}
ResultsWindow& WindowRegistry::resultsWindow() { return instance(results_, *this); }
LoginWindow& WindowRegistry::secondLoginWindow() {
    return instance(secondLogin_, *this, compare::Side::Second);
}
OverviewWindow& WindowRegistry::overviewWindow() { return instance(overview_, *this); }

void WindowRegistry::EndProgram() {
    if (ended_) return;
    ended_ = true;
    // The program ends at once, without destructors: what a run kept on disk
    // (its records, its script) goes with its results first.
    if (results_) results_->ClearRunEnd();
    for (QWidget* w :
         std::initializer_list<QWidget*>{login_.get(), tableSelection_.get(), results_.get(),
                                         secondLogin_.get(), overview_.get()}) {
        if (w) w->hide();
    }
    if (services_.endProgram) services_.endProgram();
}

void Start(WindowRegistry& registry) {
    LoginWindow& login = registry.loginWindow();
    if (!login.WasHidden() && !registry.ended()) login.Show();
}

}  // namespace windows
