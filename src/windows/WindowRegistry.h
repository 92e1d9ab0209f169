#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "DataAccess.h"
#include "MessageBoxes.h"

namespace windows {

class LoginWindow;
class TableSelectionWindow;
class ResultsWindow;
class OverviewWindow;

// What the windows use of the outside world; tests pass doubles.
struct Services {
    ui::MessageBoxes& boxes;
    ui::Shell& shell;
    data::DataAccess& data;
    QString programFolder;             // where the optional files beside the program live
    std::function<void()> endProgram;  // stops the process; tests record it instead
};

// Owns the single-instance windows: the three of the wizard, the second
// table's login window and the overview of all tables. Each is created on first use,
// which runs its load at once; afterwards it is only shown and hidden and
// lives until the registry goes.
class WindowRegistry {
public:
    explicit WindowRegistry(Services services);
    ~WindowRegistry();
    WindowRegistry(const WindowRegistry&) = delete;
    WindowRegistry& operator=(const WindowRegistry&) = delete;

    LoginWindow& loginWindow();
    TableSelectionWindow& tableSelectionWindow();
    ResultsWindow& resultsWindow();
    // The login of the second table on another server.
    LoginWindow& secondLoginWindow();
    // The pairs of a comparison of all tables.
    OverviewWindow& overviewWindow();

    // The window if it has been created, else null; never creates it.
    LoginWindow* existingLoginWindow() const { return login_.get(); }
    TableSelectionWindow* existingTableSelectionWindow() const { return tableSelection_.get(); }
    ResultsWindow* existingResultsWindow() const { return results_.get(); }
    LoginWindow* existingSecondLoginWindow() const { return secondLogin_.get(); }
    OverviewWindow* existingOverviewWindow() const { return overview_.get(); }

    ui::MessageBoxes& boxes() const { return services_.boxes; }
    ui::Shell& shell() const { return services_.shell; }
    data::DataAccess& data() const { return services_.data; }
    const QString& programFolder() const { return services_.programFolder; }

    // Ends the program at once: every window disappears and no handler runs after it.
    void EndProgram();
    bool ended() const { return ended_; }

private:
    Services services_;
    std::unique_ptr<LoginWindow> login_;
    std::unique_ptr<TableSelectionWindow> tableSelection_;
    std::unique_ptr<ResultsWindow> results_;
    std::unique_ptr<LoginWindow> secondLogin_;
    std::unique_ptr<OverviewWindow> overview_;
    bool ended_ = false;
};

// Start rule: create the login window (its load may already move on to the
// table selection window) and show it unless the load hid it.
void Start(WindowRegistry& registry);

}  // namespace windows
