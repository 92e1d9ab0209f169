#include "TableListView.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <stdexcept>

namespace windows {

TableListView::TableListView(QWidget* parent) : QTreeWidget(parent) {
    // The column exists from the start so that items show even before (or
    // without) their header; the header appears when it is added.
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);  // a name longer than the column is cut at its edge
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    // A click beside the items or a Ctrl+click must not leave the list without a selection.
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (selectedItems().isEmpty() && currentItem() != nullptr) currentItem()->setSelected(true);
    });
}

namespace {
// Where an item keeps the two parts of its table's name besides its text,
// and a query item its SQL.
constexpr int kSchemaRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kViewRole = Qt::UserRole + 2;
constexpr int kQueryRole = Qt::UserRole + 3;
}  // namespace

// A fill changes the choice only as the list's rules say, so it tells no one
// of the selections it passes through.
void TableListView::Clear() {
    const QSignalBlocker quiet(this);
    QTreeWidgetItem* query = queryItem();
    if (query == nullptr) {
        clear();
        return;
    }
    firstTableTakesChoice_ = !query->isSelected();
    while (topLevelItemCount() > 1) delete takeTopLevelItem(1);
    setCurrentItem(query);  // the only item, until a table takes the choice
}

void TableListView::Add(const catalogue::TableName& table) {
    const QSignalBlocker quiet(this);
    const QString text = table.listed();
    auto* item = new QTreeWidgetItem(this, QStringList{text});
    item->setData(0, kSchemaRole, table.schema);
    item->setData(0, kNameRole, table.name);
    item->setData(0, kViewRole, table.view);
    item->setToolTip(0, text);  // the whole name, which the column may cut
    if (currentItem() == nullptr || firstTableTakesChoice_) {
        setCurrentItem(item);
        firstTableTakesChoice_ = false;
    }
}

QTreeWidgetItem* TableListView::queryItem() const {
    QTreeWidgetItem* top = topLevelItem(0);
    return top != nullptr && !top->data(0, kQueryRole).toString().isEmpty() ? top : nullptr;
}

void TableListView::SetQuery(const catalogue::TableName& query, bool choose) {
    QTreeWidgetItem* item = queryItem();
    if (item == nullptr) {
        item = new QTreeWidgetItem;
        insertTopLevelItem(0, item);
        // Set apart from the tables under it.
        QFont font = item->font(0);
        font.setItalic(true);
        item->setFont(0, font);
    }
    item->setText(0, QStringLiteral("Query: ") + query.name);
    item->setData(0, kNameRole, query.name);
    item->setData(0, kQueryRole, query.query);
    item->setToolTip(0, query.query.trimmed());
    // Not chosen, it leaves the choice to the tables (a fill to come gives
    // it to the first table).
    if (choose) setCurrentItem(item);
}

void TableListView::RemoveQuery() {
    QTreeWidgetItem* item = queryItem();
    if (item == nullptr) return;
    const bool chosen = item->isSelected();
    delete takeTopLevelItem(0);
    if (chosen && topLevelItemCount() > 0) setCurrentItem(topLevelItem(0));
}

std::optional<catalogue::TableName> TableListView::Query() const {
    const QTreeWidgetItem* item = queryItem();
    if (item == nullptr) return std::nullopt;
    catalogue::TableName query;
    query.name = item->data(0, kNameRole).toString();
    query.query = item->data(0, kQueryRole).toString();
    return query;
}

bool TableListView::QueryChosen() const {
    const QTreeWidgetItem* item = queryItem();
    return item != nullptr && item->isSelected();
}

void TableListView::AddColumnHeader(const QString& text) {
    setHeaderLabels(QStringList{text});
    setHeaderHidden(false);
}

void TableListView::SetColumnWidth(int pixels) { setColumnWidth(0, pixels); }

QTreeWidgetItem* TableListView::selected() const {
    const QList<QTreeWidgetItem*> items = selectedItems();
    if (items.isEmpty()) throw std::runtime_error("The list has no selected item.");
    return items.front();
}

int TableListView::SelectedIndex() const { return indexOfTopLevelItem(selected()) + 1; }

QString TableListView::SelectedText() const { return selected()->text(0); }

catalogue::TableName TableListView::SelectedTable() const {
    const QTreeWidgetItem* item = selected();
    return {item->data(0, kSchemaRole).toString(), item->data(0, kNameRole).toString(),
            item->data(0, kViewRole).toBool(), item->data(0, kQueryRole).toString()};
}

void TableListView::Select(int index) {
    QTreeWidgetItem* item = topLevelItem(index - 1);
    if (item == nullptr) throw std::out_of_range("Index out of bounds");
    setCurrentItem(item);
}

}  // namespace windows
