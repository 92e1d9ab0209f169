#include "RecordsWindow.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLocale>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <map>
#include <vector>

#include "ApplicationTitle.h"
#include "DifferenceLines.h"

namespace windows {

namespace {

using compare::RecordFilter;

// Columns are as wide as the values of records read from the start, the
// end and between (keys grow towards the end), within reason: a long value
// is elided, whole in its hint and by "Copy value".
constexpr int kRowsMeasured = 100;
constexpr int kSpreadChunks = 8;
constexpr int kSpreadRows = 16;
constexpr int kNarrowest = 60;
constexpr int kWidest = 320;

constexpr std::array kFilters{RecordFilter::All, RecordFilter::Changed, RecordFilter::OnlyInFirst,
                              RecordFilter::OnlyInSecond};

QTableView* NewGrid(QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->verticalHeader()->hide();
    // One height for every row, so that a million rows cost no measuring
    // and both grids stay level.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setDefaultSectionSize(130);
    view->horizontalHeader()->setSectionsMovable(false);
    return view;
}

}  // namespace

RecordsWindow::RecordsWindow(std::shared_ptr<const compare::RecordStore> store, QString firstTable,
                             QString secondTable, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("RecordsWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("%1 - %2 and %3 side by side")
                       .arg(QString::fromLatin1(app::kProductName),
                            compare::WithVisibleControls(firstTable),
                            compare::WithVisibleControls(secondTable)));
    model_ = new DifferingRecordsModel(std::move(store), firstTable, secondTable, this);
    QHBoxLayout* bar = filterBar(firstTable, secondTable);
    setUpGrids();

    auto* grids = new QHBoxLayout;
    grids->setSpacing(0);
    grids->addWidget(keys_);
    grids->addWidget(fields_, 1);
    grids->addWidget(scroll_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(grids, 1);

    // The grids' own Ctrl+C copies one cell: theirs are taken first.
    for (QTableView* view : {keys_, fields_}) view->installEventFilter(this);
    fields_->viewport()->installEventFilter(this);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    resize(960, 520);
    updateScroll();
    if (model_->total() > 0) setCurrent(0, firstShownColumn());
}

// The filters by kind, each with its count, and "Hide unchanged columns".
QHBoxLayout* RecordsWindow::filterBar(const QString& firstTable, const QString& secondTable) {
    const compare::RecordStore& records = model_->store();

    auto* bar = new QHBoxLayout;
    auto* group = new QButtonGroup(this);
    const QString words[] = {QStringLiteral("All"), QStringLiteral("Changed"),
                             QStringLiteral("Only in %1").arg(firstTable),
                             QStringLiteral("Only in %1").arg(secondTable)};
    for (std::size_t k = 0; k < kFilters.size(); ++k) {
        auto* button = new QRadioButton(
            QStringLiteral("%1 (%2)").arg(compare::WithVisibleControls(words[k]),
                                          GroupedNumber(records.count(kFilters[k]))),
            this);
        button->setObjectName(QStringLiteral("Filter%1").arg(k));
        group->addButton(button);
        bar->addWidget(button);
        filters_[k] = button;
        connect(button, &QRadioButton::toggled, this, [this, k](bool on) {
            if (on) setFilter(kFilters[k]);
        });
    }
    filters_[0]->setChecked(true);
    bar->addStretch();
    hideUnchanged_ = new QCheckBox(QStringLiteral("Hide unchanged columns"), this);
    bar->addWidget(hideUnchanged_);
    connect(hideUnchanged_, &QCheckBox::toggled, this, [this] { showColumns(); });

    return bar;
}

// The key's grid and the fields' grid over one model and one selection, and
// the bar over all the records.
void RecordsWindow::setUpGrids() {
    keys_ = NewGrid(this);
    fields_ = NewGrid(this);
    keys_->setObjectName(QStringLiteral("KeyGrid"));
    fields_->setObjectName(QStringLiteral("RecordGrid"));
    for (QTableView* view : {keys_, fields_}) view->setModel(model_);
    keys_->setSelectionModel(fields_->selectionModel());
    // The keys stay put while the fields scroll sideways; both scroll down
    // together, by the window's own bar over all the records: theirs only
    // move within the model's window.
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setObjectName(QStringLiteral("RecordScroll"));
    for (QTableView* view : {keys_, fields_}) {
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    keys_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    keys_->horizontalScrollBar()->setEnabled(false);
    fields_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(fields_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int top) {
        keys_->verticalScrollBar()->setValue(top);
        if (!syncing_) followGrid();
    });
    connect(keys_->verticalScrollBar(), &QScrollBar::valueChanged, fields_->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(scroll_, &QScrollBar::valueChanged, this, [this](int top) {
        if (!syncing_) showTop(top);
    });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        showColumns();
        updateScroll();
    });
    sizeColumns();
    showColumns();
    // The whole value of the current cell, whatever its column shows.
    copyValue_ = new QAction(QStringLiteral("Copy value"), this);
    copyValue_->setObjectName(QStringLiteral("CopyValue"));
    copyValue_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copyValue_->setShortcutContext(Qt::WidgetShortcut);
    connect(copyValue_, &QAction::triggered, this, &RecordsWindow::copyValue);
    auto* copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);  // the key itself is taken in eventFilter
    connect(copy, &QAction::triggered, this, &RecordsWindow::copySelection);
    for (QTableView* view : {keys_, fields_}) {
        view->addAction(copy);
        view->addAction(copyValue_);
        view->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    // Both headers one height, so that the rows of both grids stay level.
    const int headerHeight = std::max(keys_->horizontalHeader()->sizeHint().height(),
                                      fields_->horizontalHeader()->sizeHint().height());
    for (QTableView* view : {keys_, fields_})
        view->horizontalHeader()->setFixedHeight(headerHeight);
}

// Each column as wide as its header and the widest of the records read, both
// columns of a field alike, so that its two values line up for the eye.
void RecordsWindow::sizeColumns() {
    const compare::RecordStore& store = model_->store();
    const std::int64_t total = store.count(RecordFilter::All);
    std::vector<compare::DifferingRecord> sample =
        store.records(RecordFilter::All, 0, kRowsMeasured);
    const auto add = [&](std::int64_t from, int n) {
        for (compare::DifferingRecord& r : store.records(RecordFilter::All, from, n)) {
            sample.push_back(std::move(r));
        }
    };
    if (total > kRowsMeasured) {
        for (int k = 1; k <= kSpreadChunks; ++k) {
            const std::int64_t from = total * k / (kSpreadChunks + 1);
            if (from >= kRowsMeasured && from + kSpreadRows <= total - kRowsMeasured) {
                add(from, kSpreadRows);
            }
        }
        add(std::max<std::int64_t>(kRowsMeasured, total - kRowsMeasured),
            static_cast<int>(std::min<std::int64_t>(kRowsMeasured, total - kRowsMeasured)));
    }
    const int margin =
        2 * (fields_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, fields_) + 1) + 2;
    std::vector<int> widths(static_cast<std::size_t>(model_->columnCount()), 0);
    for (int c = 0; c < model_->columnCount(); ++c) {
        QTableView* view = model_->fieldOf(c) < 0 ? keys_ : fields_;
        int width = view->horizontalHeader()->sectionSizeHint(c);
        for (const compare::DifferingRecord& r : sample) {
            const QString text = model_->cellData(r, c, Qt::DisplayRole).toString();
            if (text.isEmpty()) continue;
            const QVariant font = model_->cellData(r, c, Qt::FontRole);
            const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : view->font());
            width = std::max(width, metrics.horizontalAdvance(text) + margin);
            if (width >= kWidest) break;
        }
        widths[static_cast<std::size_t>(c)] = std::clamp(width, kNarrowest, kWidest);
    }
    for (int c = 0; c < model_->columnCount(); ++c) {
        int width = widths[static_cast<std::size_t>(c)];
        const int field = model_->fieldOf(c);
        if (field >= 0) {
            width = std::max(widths[static_cast<std::size_t>(model_->columnOf(field, true))],
                             widths[static_cast<std::size_t>(model_->columnOf(field, false))]);
        }
        for (QTableView* view : {keys_, fields_}) view->setColumnWidth(c, width);
    }
}

int RecordsWindow::visibleRows() const {
    const int row = std::max(1, fields_->verticalHeader()->defaultSectionSize());
    return std::max(1, fields_->viewport()->height() / row);
}

void RecordsWindow::updateScroll() {
    const int visible = visibleRows();
    const auto last = std::min<std::int64_t>(std::max<std::int64_t>(0, model_->total() - visible),
                                             std::numeric_limits<int>::max());
    syncing_ = true;
    scroll_->setRange(0, static_cast<int>(last));
    scroll_->setVisible(last > 0);
    scroll_->setPageStep(visible);
    scroll_->setValue(static_cast<int>(model_->offset() + fields_->verticalScrollBar()->value()));
    syncing_ = false;
}

// The record at the grids' top: the model's window moves when the rows to
// show leave it, centred on them.
void RecordsWindow::showTop(std::int64_t top, bool recentre) {
    const int visible = visibleRows();
    syncing_ = true;
    if (recentre || top < model_->offset() ||
        top + visible > model_->offset() + model_->rowCount()) {
        model_->setOffset(top - (DifferingRecordsModel::kWindowRows - visible) / 2);
    }
    fields_->verticalScrollBar()->setValue(static_cast<int>(top - model_->offset()));
    syncing_ = false;
}

// The grids scrolled on their own (the wheel, the keys): the bar follows,
// and the window moves on before they reach its edge.
void RecordsWindow::followGrid() {
    const std::int64_t top = model_->offset() + fields_->verticalScrollBar()->value();
    const int visible = visibleRows();
    const int margin = DifferingRecordsModel::kWindowRows / 4;
    const bool nearStart = model_->offset() > 0 && top - model_->offset() < margin;
    const bool nearEnd = model_->offset() + model_->rowCount() < model_->total() &&
                         model_->offset() + model_->rowCount() - (top + visible) < margin;
    if (nearStart || nearEnd) showTop(top, true);
    syncing_ = true;
    scroll_->setValue(static_cast<int>(std::min<std::int64_t>(top, scroll_->maximum())));
    syncing_ = false;
}

// The keys that move by pages and to the ends move over all the records:
// the grids' own would stop at the edges of the model's window.
bool RecordsWindow::moveByKey(const QKeyEvent& key) {
    const std::int64_t total = model_->total();
    const std::int64_t current = std::max<std::int64_t>(0, currentRecord());
    const std::int64_t page = std::max(1, visibleRows() - 1);
    std::int64_t to = 0;
    if (key.modifiers() == Qt::ControlModifier && key.key() == Qt::Key_Home) {
        to = 0;
    } else if (key.modifiers() == Qt::ControlModifier && key.key() == Qt::Key_End) {
        to = total - 1;
    } else if (key.modifiers() == Qt::NoModifier && key.key() == Qt::Key_PageDown) {
        to = std::min(total - 1, current + page);
    } else if (key.modifiers() == Qt::NoModifier && key.key() == Qt::Key_PageUp) {
        to = std::max<std::int64_t>(0, current - page);
    } else {
        return false;
    }
    if (total == 0) return true;
    const QModelIndex index = fields_->currentIndex();
    setCurrent(to, index.isValid() ? index.column() : firstShownColumn());
    return true;
}

std::int64_t RecordsWindow::currentRecord() const {
    const QModelIndex current = fields_->currentIndex();
    return current.isValid() ? model_->offset() + current.row() : -1;
}

void RecordsWindow::showRecord(std::int64_t record) { setCurrent(record, firstShownColumn()); }

bool RecordsWindow::eventFilter(QObject* watched, QEvent* event) {
    // The rows the grid shows, and so the bar's range, follow its height.
    if (watched == fields_->viewport() && event->type() == QEvent::Resize) {
        updateScroll();
        return false;
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
        return QWidget::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress && watched != fields_->viewport() && moveByKey(*key)) {
        return true;
    }
    const bool f8 = key->key() == Qt::Key_F8 && (key->modifiers() & ~Qt::ShiftModifier) == 0;
    if (!f8 && !key->matches(QKeySequence::Copy)) return QWidget::eventFilter(watched, event);
    event->accept();
    if (event->type() == QEvent::KeyPress) {
        if (f8) {
            nextDifference(!(key->modifiers() & Qt::ShiftModifier));
        } else {
            copySelection();
        }
    }
    return true;
}

QRadioButton* RecordsWindow::filterButton(RecordFilter filter) const {
    return filters_.at(static_cast<std::size_t>(filter));
}

void RecordsWindow::setFilter(RecordFilter filter) {
    if (!filterButton(filter)->isChecked()) {
        filterButton(filter)->setChecked(true);  // comes back here through toggled
        return;
    }
    if (model_->filter() == filter) return;
    model_->setFilter(filter);
    if (model_->total() > 0) setCurrent(0, firstShownColumn());
}

void RecordsWindow::setHideUnchanged(bool hide) { hideUnchanged_->setChecked(hide); }

void RecordsWindow::showColumns() {
    const int keys = model_->keyColumns();
    const compare::RecordStore& records = model_->store();
    for (int c = 0; c < model_->columnCount(); ++c) {
        const int field = model_->fieldOf(c);
        keys_->setColumnHidden(c, field >= 0);
        fields_->setColumnHidden(
            c, field < 0 || model_->keyField(field) ||
                   (hideUnchanged_->isChecked() && records.changedCount(field) == 0));
    }
    int width = keys_->frameWidth() * 2;
    for (int c = 0; c < keys; ++c) width += keys_->columnWidth(c);
    keys_->setFixedWidth(width);
}

int RecordsWindow::firstShownColumn() const {
    for (int c = model_->keyColumns(); c < model_->columnCount(); ++c) {
        if (!fields_->isColumnHidden(c)) return c;
    }
    return 0;
}

void RecordsWindow::setCurrent(std::int64_t record, int column) {
    if (record < model_->offset() || record >= model_->offset() + model_->rowCount()) {
        showTop(std::max<std::int64_t>(0, record - visibleRows() / 2));
    }
    const QModelIndex index = model_->index(static_cast<int>(record - model_->offset()), column);
    fields_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    revealCurrent();
    followGrid();  // the bar too, when the grid did not scroll
}

void RecordsWindow::revealCurrent(bool fromStart) {
    const QModelIndex index = fields_->currentIndex();
    if (!index.isValid()) return;
    // A column out of view comes to the left edge, whole, with its partner
    // beside it, rather than half-shown at either edge; from the start (on
    // opening), the grid stays at its first column when that shows it.
    const QHeaderView& header = *fields_->horizontalHeader();
    const int left = header.sectionPosition(index.column());
    const int right = left + header.sectionSize(index.column());
    const int width = fields_->viewport()->width();
    QScrollBar& bar = *fields_->horizontalScrollBar();
    if (fromStart) {
        bar.setValue(right <= width ? 0 : left);
    } else if (left < bar.value() || right > bar.value() + width) {
        bar.setValue(left);
    }
    fields_->scrollTo(index);
}

void RecordsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Only now do the grids have their size.
    QTimer::singleShot(0, this, [this] { revealCurrent(true); });
}

bool RecordsWindow::selectLine(bool fieldList, std::int64_t line, const QString& field) {
    std::optional<std::int64_t> row = model_->store().rowOf(model_->filter(), fieldList, line);
    if (!row) {
        row = model_->store().rowOf(RecordFilter::All, fieldList, line);
        if (!row) return false;
        setFilter(RecordFilter::All);
    }
    int column = firstShownColumn();
    const compare::RecordLayout& layout = model_->store().layout();
    for (int f = 0; f < layout.fieldCount(); ++f) {
        if (layout.fields[static_cast<std::size_t>(f)].name == field) {
            column = model_->columnOf(f, true);
        }
    }
    if (*row >= model_->total()) return false;
    setCurrent(*row, column);
    return true;
}

bool RecordsWindow::nextDifference(bool forward) {
    const std::int64_t current = currentRecord();
    std::int64_t row = current >= 0 ? current : (forward ? -1 : model_->total());
    int field = current >= 0 ? model_->fieldOf(fields_->currentIndex().column()) : -1;
    const int fields = model_->store().layout().fieldCount();
    // Every record differs somewhere, so the next stop is in this record or the next.
    for (int steps = 0; steps < 2; ++steps) {
        const compare::DifferingRecord* r = model_->recordAt(row);
        if (r != nullptr && r->kind == compare::DifferingRecord::Kind::Changed) {
            for (int f = forward ? field + 1 : field - 1; f >= 0 && f < fields;
                 f += forward ? 1 : -1) {
                if (r->differs[static_cast<std::size_t>(f)]) {
                    setCurrent(row, model_->columnOf(f, true));
                    return true;
                }
            }
        }
        row += forward ? 1 : -1;
        if (row < 0 || row >= model_->total()) return false;
        r = model_->recordAt(row);
        if (r != nullptr && r->kind != compare::DifferingRecord::Kind::Changed) {
            setCurrent(row, firstShownColumn());
            return true;
        }
        field = forward ? -1 : fields;
    }
    return false;
}

QString RecordsWindow::selectedText() const {
    std::map<int, std::map<int, QModelIndex>> rows;
    for (const QModelIndex& index : fields_->selectionModel()->selectedIndexes()) {
        const bool keyColumn = model_->fieldOf(index.column()) < 0;
        if ((keyColumn ? keys_ : fields_)->isColumnHidden(index.column())) continue;
        rows[index.row()][index.column()] = index;
    }
    QStringList lines;
    for (const auto& [row, cells] : rows) {
        QStringList texts;
        for (const auto& [column, index] : cells) texts << model_->cellText(index);
        lines << texts.join(u'\t');
    }
    return lines.join(u'\n');
}

void RecordsWindow::copyValue() const {
    const QModelIndex current = fields_->currentIndex();
    if (current.isValid()) QApplication::clipboard()->setText(model_->cellText(current));
}

void RecordsWindow::copySelection() const {
    const QString text = selectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

}  // namespace windows
