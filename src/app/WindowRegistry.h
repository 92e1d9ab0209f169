#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "DataAccess.h"
#include "MessageBoxes.h"

namespace connection { class Form1; }
namespace catalogue { class Form2; }
namespace compare { class Form3; }

namespace app {

// What the windows use of the outside world; tests pass doubles.
struct Services {
    ui::MessageBoxes& boxes;
    ui::Shell& shell;
    data::DataAccess& data;
    QString programFolder;             // where the optional files beside the program live
    std::function<void()> endProgram;  // stops the process; tests record it instead
};

// Owns the three single-instance windows. Each is created on first use,
// which runs its load at once; afterwards it is only shown and hidden and
// lives until the registry goes.
class WindowRegistry {
public:
    explicit WindowRegistry(Services services);
    ~WindowRegistry();
    WindowRegistry(const WindowRegistry&) = delete;
    WindowRegistry& operator=(const WindowRegistry&) = delete;

    connection::Form1& form1();
    catalogue::Form2& form2();
    compare::Form3& form3();

    // The window if it has been created, else null; never creates it.
    connection::Form1* existingForm1() const { return form1_.get(); }
    catalogue::Form2* existingForm2() const { return form2_.get(); }
    compare::Form3* existingForm3() const { return form3_.get(); }

    ui::MessageBoxes& boxes() const { return services_.boxes; }
    ui::Shell& shell() const { return services_.shell; }
    data::DataAccess& data() const { return services_.data; }
    const QString& programFolder() const { return services_.programFolder; }

    // Ends the program at once: every window disappears and no handler runs after it.
    void EndProgram();
    bool ended() const { return ended_; }

private:
    Services services_;
    std::unique_ptr<connection::Form1> form1_;
    std::unique_ptr<catalogue::Form2> form2_;
    std::unique_ptr<compare::Form3> form3_;
    bool ended_ = false;
};

// Start rule: create the login window (its load may already move on to the
// table selection window) and show it unless the load hid it.
void Start(WindowRegistry& registry);

}  // namespace app
