#include "WindowRegistry.h"

#include "Form1.h"
#include "Form2.h"
#include "Form3.h"

namespace app {

WindowRegistry::WindowRegistry(Services services) : services_(std::move(services)) {}

WindowRegistry::~WindowRegistry() = default;

namespace {

// Creates the window on first use and runs its load at once; the instance is
// stored before the load, so that the load itself reaches the same window.
template <class Form>
Form& instance(std::unique_ptr<Form>& slot, WindowRegistry& registry) {
    if (!slot) {
        slot = std::make_unique<Form>(registry);
        slot->Form_Load();
    }
    return *slot;
}

}  // namespace

connection::Form1& WindowRegistry::form1() { return instance(form1_, *this); }
catalogue::Form2& WindowRegistry::form2() { return instance(form2_, *this); }
compare::Form3& WindowRegistry::form3() { return instance(form3_, *this); }

void WindowRegistry::EndProgram() {
    if (ended_) return;
    ended_ = true;
    for (QWidget* w : std::initializer_list<QWidget*>{form1_.get(), form2_.get(), form3_.get()}) {
        if (w) w->hide();
    }
    if (services_.endProgram) services_.endProgram();
}

void Start(WindowRegistry& registry) {
    connection::Form1& login = registry.form1();
    if (!login.WasHidden() && !registry.ended()) login.Show();
}

}  // namespace app
