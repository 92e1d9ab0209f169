#include "ResultsWindow.h"

#include <QShortcut>

#include "ApplicationTitle.h"
#include "ClassicLook.h"
#include "ErrorTrap.h"
#include "Layout.h"
#include "ReportFile.h"
#include "ReportFormat.h"
#include "ReportWriter.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace windows {

ResultsWindow::ResultsWindow(WindowRegistry& registry) : Window(registry) {
    setFont(ArialFont(9));
    setFixedSize(Twips(5880), Twips(5475));
    ListView1 = Place(new ResultListView(this), "ListView1", 120, 120, 5640, 2280);
    ListView2 = Place(new ResultListView(this), "ListView2", 120, 2520, 5640, 2280);
    PushButton2 =
        Place(new QPushButton(QStringLiteral("< Back"), this), "PushButton2", 120, 4920, 2775, 405);
    PushButton9 =
        Place(new QPushButton(QStringLiteral("Exit"), this), "PushButton9", 3000, 4920, 2760, 405);
    for (QPushButton* b : {PushButton2, PushButton9}) {
        b->setFont(ArialFont(11.25));
        b->setAutoDefault(false);
    }
    setTabOrder(PushButton2, PushButton9);
    setTabOrder(PushButton9, ListView1);
    setTabOrder(ListView1, ListView2);

    AddPointerHandler(ListView1->viewport(), PointerHandler::Normal);
    AddPointerHandler(ListView2->viewport(), PointerHandler::Normal);
    AddPointerHandler(PushButton2, PointerHandler::Hand);
    AddPointerHandler(PushButton9, PointerHandler::Hand);

    for (ResultListView* list : {ListView1, ListView2}) {
        connect(list, &ResultListView::saveRequested, this, [this] { SaveResults(); });
    }
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, [this] { SaveResults(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });
}

void ResultsWindow::Form_Load() {
    ErrorTrap trap(registry().boxes(), app::kForm3LoadTag);
    trap.step(100, [&] { ApplyClassicColours(*this); });
    trap.step(102, [&] { setWindowIcon(ProgramIcon()); });
    LoadPointerFile(trap, 106, 108);
    trap.step(110, [&] { setWindowTitle(QString::fromLatin1(app::kProductName)); });
    trap.step(112,
              [&] { ListView1->linesModel()->setHeaderText(QStringLiteral("Field differences")); });
    trap.step(114, [&] { ListView1->setLineColumnWidth(Twips(4000)); });
    trap.step(116, [&] {
        ListView2->linesModel()->setHeaderText(QStringLiteral("Added / deleted records"));
    });
    trap.step(118, [&] { ListView2->setLineColumnWidth(Twips(4000)); });
}

void ResultsWindow::PushButton2_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm3BackTag);
    trap.step(100, [&] { ListView1->linesModel()->clear(); });
    trap.step(102, [&] { ListView2->linesModel()->clear(); });
    trap.step(104, [&] { registry().tableSelectionWindow().Show(); });
    trap.step(106, [&] { Hide(); });
}

void ResultsWindow::SaveResults() {
    const QString path = registry().shell().chooseSaveFile(
        QStringLiteral("Save As"),
        QStringLiteral("Text (*.txt);;CSV (*.csv);;JSON lines (*.json);;All files (*)"));
    if (path.isEmpty()) return;
    compare::ReportFile file(path);
    QString reason;
    if (file.open()) {
        try {
            compare::ReportWriter writer(file.device(), compare::ReportFormatForFile(path));
            for (ResultListView* list : {ListView1, ListView2}) {
                const ResultLinesModel& lines = *list->linesModel();
                for (qsizetype i = 0; i < lines.lineCount(); ++i) writer.write(lines.difference(i));
            }
            if (file.commit()) return;
            reason = file.errorString();
        } catch (const compare::ReportWriteError& e) {
            reason = e.reason();
        }
        file.cancel();
    } else {
        reason = file.errorString();
    }
    registry().boxes().show(
        QStringLiteral("The results could not be saved to %1: %2").arg(path, reason), QString(),
        ui::Buttons::Ok, ui::Icon::Exclamation);
}

void ResultsWindow::PushButton9_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm3ExitTag);
    trap.step(100, [&] { registry().EndProgram(); });
}

}  // namespace windows
