#include "ResultsWindow.h"

#include <QShortcut>

#include "ApplicationTitle.h"
#include "ClassicLook.h"
#include "ErrorTrap.h"
#include "HtmlReport.h"
#include "Layout.h"
#include "OverviewWindow.h"
#include "ReportFile.h"
#include "ReportFormat.h"
#include "ReportWriter.h"
#include "Summary.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

// The window's height without a run's end, and where that end starts.
constexpr int kHeight = 5475;
constexpr int kEndTop = 5445;
constexpr int kLineColumnWidth = 4000;
const QString kFieldHeading = QStringLiteral("Field differences");
const QString kRecordHeading = QStringLiteral("Added / deleted records");

}  // namespace

ResultsWindow::ResultsWindow(WindowRegistry& registry) : Window(registry) {
    setFont(ArialFont(9));
    setFixedSize(Twips(5880), Twips(kHeight));
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
    // Below the buttons; the window grows to hold them.
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("Summary"));
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("OptionsNotice"));
    notice_->setStyleSheet(QStringLiteral("color: #a00000"));
    for (QLabel* label : {summary_, notice_}) {
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->hide();
    }
    setTabOrder(PushButton2, PushButton9);
    setTabOrder(PushButton9, ListView1);
    setTabOrder(ListView1, ListView2);

    AddPointerHandler(ListView1->viewport(), PointerHandler::Normal);
    AddPointerHandler(ListView2->viewport(), PointerHandler::Normal);
    AddPointerHandler(PushButton2, PointerHandler::Hand);
    AddPointerHandler(PushButton9, PointerHandler::Hand);
    AddPointerHandler(summary_, PointerHandler::Normal);
    AddPointerHandler(notice_, PointerHandler::Normal);

    for (ResultListView* list : {ListView1, ListView2}) {
        connect(list, &ResultListView::saveRequested, this, [this] { SaveResults(); });
        connect(list, &ResultListView::recordsRequested, this, [this, list] { ShowRecords(list); });
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
    trap.step(112, [&] { ListView1->linesModel()->setHeaderText(kFieldHeading); });
    trap.step(114, [&] { ListView1->setLineColumnWidth(Twips(kLineColumnWidth)); });
    trap.step(116, [&] { ListView2->linesModel()->setHeaderText(kRecordHeading); });
    trap.step(118, [&] { ListView2->setLineColumnWidth(Twips(kLineColumnWidth)); });
}

void ResultsWindow::PushButton2_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm3BackTag);
    const bool toOverview = backToOverview_;
    trap.step(100, [&] { ListView1->linesModel()->clear(); });
    trap.step(102, [&] { ListView2->linesModel()->clear(); });
    trap.step(102, [&] { ClearRunEnd(); });
    trap.step(104, [&] {
        if (toOverview) {
            registry().overviewWindow().Show();
        } else {
            registry().tableSelectionWindow().Show();
        }
    });
    trap.step(106, [&] { Hide(); });
}

void ResultsWindow::SaveResults() {
    QString filters =
        QStringLiteral("Text (*.txt);;CSV (*.csv);;JSON lines (*.json);;HTML page (*.html);;");
    if (end_ && end_->script.pairedByKey) filters += QStringLiteral("T-SQL script (*.sql);;");
    filters += QStringLiteral("All files (*)");
    const QString path = registry().shell().chooseSaveFile(QStringLiteral("Save As"), filters);
    if (path.isEmpty()) return;
    const bool script = path.endsWith(QStringLiteral(".sql"), Qt::CaseInsensitive);
    QString reason;
    if (script) {
        // A script that would not mend the tables is not written at all: a
        // file of that name could pass for one that does.
        const QString refused = scriptRefusal();
        if (!refused.isEmpty()) {
            registry().boxes().show(refused, QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
            return;
        }
        if (!end_->script.cascades.isEmpty() &&
            registry().boxes().show(end_->script.cascades, QString(), ui::Buttons::YesNo,
                                    ui::Icon::Question) != ui::Answer::Yes) {
            return;
        }
        reason = end_->script.failure;
        if (reason.isEmpty() && !end_->script.file) reason = QStringLiteral("no script was kept");
    }
    if (reason.isEmpty()) {
        compare::ReportFile file(path);
        if (file.open()) {
            const compare::ReportFormat format = compare::ReportFormatForFile(path);
            if (script) {
                reason = copyScript(file.device());
            } else if (format == compare::ReportFormat::Html) {
                reason = writePage(file.device());
            } else {
                reason = writeLists(file.device(), format);
            }
            if (reason.isEmpty()) {
                if (file.commit()) return;
                reason = file.errorString();
            }
            file.cancel();
        } else {
            reason = file.errorString();
        }
    }
    registry().boxes().show(
        QStringLiteral("The results could not be saved to %1: %2").arg(path, reason), QString(),
        ui::Buttons::Ok, ui::Icon::Exclamation);
}

QString ResultsWindow::scriptRefusal() const {
    if (!end_ || !end_->script.pairedByKey) {
        return QStringLiteral(
            "There is no script to save: a script names each record by its key, and these "
            "records were paired by position. Tick \"Pair records by key\" and compare again.");
    }
    return end_->script.refused;
}

QString ResultsWindow::writeLists(QIODevice& out, compare::ReportFormat format) {
    try {
        compare::ReportWriter writer(out, format);
        for (ResultListView* list : {ListView1, ListView2}) {
            const ResultLinesModel& lines = *list->linesModel();
            for (qsizetype i = 0; i < lines.lineCount(); ++i) writer.write(lines.difference(i));
        }
        // As the command's --output ends it.
        if (end_) writer.writeEnd(end_->summary, end_->firstTable, end_->secondTable, true);
    } catch (const compare::ReportWriteError& e) {
        return e.reason();
    }
    return QString();
}

QString ResultsWindow::writePage(QIODevice& out) {
    if (!end_) return QStringLiteral("there is no comparison to save");
    if (!end_->records) {
        return QStringLiteral("the records could not be kept: %1").arg(end_->recordsFailure);
    }
    // The lines that are no records: fields only one table has, keys not unique.
    QStringList others;
    for (ResultListView* list : {ListView1, ListView2}) {
        const ResultLinesModel& lines = *list->linesModel();
        for (qsizetype i = 0; i < lines.lineCount(); ++i) {
            const compare::Difference d = lines.difference(i);
            if (d.kind == compare::Difference::Kind::FieldOnly ||
                d.kind == compare::Difference::Kind::NotUnique) {
                others << lines.line(i);
            }
        }
    }
    try {
        compare::WriteHtmlReport(out, *end_->records, {end_->firstTable, end_->secondTable}, others,
                                 end_->summary);
    } catch (const compare::ReportWriteError& e) {
        return e.reason();
    } catch (const compare::RecordStoreError& e) {
        return QString::fromStdString(e.what());
    }
    return QString();
}

QString ResultsWindow::copyScript(QIODevice& out) {
    QTemporaryFile& script = *end_->script.file;
    if (!script.seek(0)) return script.errorString();
    char buffer[65536];
    qint64 n = 0;
    while ((n = script.read(buffer, sizeof buffer)) > 0) {
        if (out.write(buffer, n) != n) return out.errorString();
    }
    return n < 0 ? script.errorString() : QString();
}

void ResultsWindow::ShowRunEnd(const RunEnd& end) {
    end_ = end;
    // The options are said apart, in the notice's colour.
    compare::RunSummary counted = end.summary;
    counted.options.clear();
    summary_->setText(compare::SummaryText(counted, end.firstTable, end.secondTable));
    QStringList notice;
    if (end.summary.stoppedAtLimit) notice << compare::StoppedAtLimitText(end.summary.limit);
    if (!end.summary.options.isEmpty()) {
        notice << QStringLiteral("Options were on: %1.").arg(end.summary.options);
    }
    notice_->setText(notice.join(u' '));

    int y = Twips(kEndTop);
    for (QLabel* label : {summary_, notice_}) {
        label->setVisible(!label->text().isEmpty());
        if (label->isHidden()) continue;
        const int height = label->heightForWidth(Twips(5640));
        label->setGeometry(Twips(120), y, Twips(5640), height);
        y += height + Twips(60);
    }
    setFixedSize(Twips(5880), y + Twips(60));
}

void ResultsWindow::ShowRecords(ResultListView* list) {
    if (!end_) {
        registry().boxes().show(
            QStringLiteral("There are no records to show: compare two tables first."));
        return;
    }
    if (!end_->records) {
        registry().boxes().show(
            QStringLiteral("The records could not be kept: %1").arg(end_->recordsFailure),
            QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        return;
    }
    if (!records_) {
        records_ = new RecordsWindow(end_->records, end_->firstTable, end_->secondTable, this);
    }
    const QModelIndex current = list->currentIndex();
    if (current.isValid()) {
        records_->selectLine(list == ListView1, current.row(),
                             list->linesModel()->difference(current.row()).field);
    }
    records_->show();
    records_->raise();
    records_->activateWindow();
}

void ResultsWindow::ClearRunEnd() {
    // The records go with the run they belong to: their window first, at
    // once, since the program may end right after.
    delete records_.data();
    end_.reset();
    summary_->clear();
    notice_->clear();
    summary_->hide();
    notice_->hide();
    setFixedSize(Twips(5880), Twips(kHeight));
    backToOverview_ = false;
}

void ResultsWindow::PushButton9_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm3ExitTag);
    trap.step(100, [&] { registry().EndProgram(); });
}

}  // namespace windows
