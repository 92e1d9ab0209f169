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
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

namespace windows {

using compare::LineRange;

// Draws a line as wide as the widest line seen, past the column's edge when
// longer: the column keeps its width, the line can still be read to its end.
class WholeLineDelegate : public QStyledItemDelegate {
public:
    explicit WholeLineDelegate(ResultListView* view) : QStyledItemDelegate(view), view_(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem wide(option);
        wide.rect.setWidth(std::max(option.rect.width(), view_->linesWidth_));
        QStyledItemDelegate::paint(painter, wide, index);
    }

private:
    ResultListView* view_;
};

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
    setItemDelegate(new WholeLineDelegate(this));
    // The view sets the bar's range from the column's width alone.
    connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] { extendScrolling(); });
    connect(lines_, &QAbstractItemModel::modelReset, this, [this] { linesWidth_ = 0; });
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

void ResultListView::measureShownRows() {
    const QModelIndex top = indexAt(QPoint(0, 0));
    if (!top.isValid()) return;
    const int margin =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    const int bottom = viewport()->height();
    for (int row = top.row(); row < lines_->rowCount(); ++row) {
        const QModelIndex index = lines_->index(row);
        if (visualRect(index).top() > bottom) break;
        const int width = fontMetrics().horizontalAdvance(index.data().toString()) + margin;
        linesWidth_ = std::max(linesWidth_, width);
    }
}

void ResultListView::extendScrolling() {
    if (extending_) return;
    const int wanted = std::max(header()->length(), linesWidth_) - viewport()->width();
    if (wanted <= horizontalScrollBar()->maximum()) return;
    extending_ = true;
    horizontalScrollBar()->setRange(0, wanted);
    horizontalScrollBar()->setPageStep(viewport()->width());
    extending_ = false;
}

void ResultListView::updateGeometries() {
    QTreeView::updateGeometries();
    measureShownRows();
    extendScrolling();
}

void ResultListView::scrollContentsBy(int dx, int dy) {
    QTreeView::scrollContentsBy(dx, dy);
    if (dy != 0) {
        measureShownRows();
        extendScrolling();
    }
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
