#include "ResultListView.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>

namespace windows {

using compare::LineRange;

ResultListView::ResultListView(QWidget* parent)
    : QTreeView(parent),
      lines_(new ResultLinesModel(this)),
      copyAction_(new QAction(tr("Copy"), this)),
      copyAllAction_(new QAction(tr("Copy All"), this)),
      saveAsAction_(new QAction(tr("Save As\u2026"), this)),
      recordsAction_(new QAction(tr("Show Records Side by Side"), this)) {
    setModel(lines_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTextElideMode(Qt::ElideNone);  // a line longer than the column is cut at its edge
    setSortingEnabled(false);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);

    copyAction_->setObjectName(QStringLiteral("copyAction"));
    copyAction_->setShortcut(QKeySequence::Copy);
    copyAction_->setShortcutContext(Qt::WidgetShortcut);  // Ctrl+C itself is handled by the view
    copyAllAction_->setObjectName(QStringLiteral("copyAllAction"));
    connect(copyAction_, &QAction::triggered, this, &ResultListView::copySelection);
    connect(copyAllAction_, &QAction::triggered, this, &ResultListView::copyAll);
    saveAsAction_->setObjectName(QStringLiteral("saveAsAction"));
    connect(saveAsAction_, &QAction::triggered, this, &ResultListView::saveRequested);
    recordsAction_->setObjectName(QStringLiteral("recordsAction"));
    recordsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    recordsAction_->setShortcutContext(Qt::WidgetShortcut);
    addAction(recordsAction_);
    connect(recordsAction_, &QAction::triggered, this, &ResultListView::recordsRequested);
    connect(this, &QAbstractItemView::doubleClicked, this, &ResultListView::recordsRequested);
}

void ResultListView::setLineColumnWidth(int pixels) { setColumnWidth(0, pixels); }

int ResultListView::lineColumnWidth() const { return columnWidth(0); }

QString ResultListView::selectedLinesText() const {
    const QItemSelection selection = selectionModel()->selection();
    std::vector<LineRange> ranges;
    ranges.reserve(static_cast<std::size_t>(selection.size()));
    for (const QItemSelectionRange& r : selection) {
        if (r.isValid() && !r.parent().isValid()) ranges.push_back({r.top(), r.bottom()});
    }
    return lines_->joinedLines(std::move(ranges));
}

void ResultListView::selectAll() {
    lines_->publishPending();
    const int rows = lines_->rowCount();
    if (rows == 0) return;
    // One range for the lot: the tree view's own selectAll walks every row.
    selectionModel()->select(QItemSelection(lines_->index(0), lines_->index(rows - 1)),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ResultListView::copySelection() {
    if (!selectionModel()->hasSelection()) return;
    QGuiApplication::clipboard()->setText(selectedLinesText());
}

void ResultListView::copyAll() {
    lines_->publishPending();
    if (lines_->lineCount() == 0) return;
    QGuiApplication::clipboard()->setText(lines_->joinedLines({{0, lines_->lineCount() - 1}}));
}

bool ResultListView::event(QEvent* e) {
    // Keep Ctrl+C and Ctrl+A for the list even when the window has shortcuts on them.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
            e->accept();
            return true;
        }
    }
    return QTreeView::event(e);
}

void ResultListView::keyPressEvent(QKeyEvent* e) {
    lines_->publishPending();  // so that End, Page Down, Shift+End reach the last line
    if (e->matches(QKeySequence::Copy)) {
        copySelection();
        e->accept();
        return;
    }
    if (e->matches(QKeySequence::SelectAll)) {
        selectAll();
        e->accept();
        return;
    }
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
        e->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        emit recordsRequested();
        e->accept();
        return;
    }
    QTreeView::keyPressEvent(e);
}

void ResultListView::contextMenuEvent(QContextMenuEvent* e) {
    lines_->publishPending();
    QMenu menu(this);
    menu.addAction(copyAction_);
    menu.addAction(copyAllAction_);
    menu.addSeparator();
    menu.addAction(recordsAction_);
    menu.addAction(saveAsAction_);
    copyAction_->setEnabled(selectionModel()->hasSelection());
    copyAllAction_->setEnabled(lines_->lineCount() > 0);
    menu.exec(e->globalPos());
    // The actions stay usable outside the menu (the slots check for themselves).
    copyAction_->setEnabled(true);
    copyAllAction_->setEnabled(true);
}

}  // namespace windows
