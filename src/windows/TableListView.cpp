#include "TableListView.h"

#include <QHeaderView>
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

void TableListView::Clear() { clear(); }

namespace {
// Where an item keeps the two parts of its table's name besides its text.
constexpr int kSchemaRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kViewRole = Qt::UserRole + 2;
}  // namespace

void TableListView::Add(const catalogue::TableName& table) {
    const QString text = table.listed();
    auto* item = new QTreeWidgetItem(this, QStringList{text});
    item->setData(0, kSchemaRole, table.schema);
    item->setData(0, kNameRole, table.name);
    item->setData(0, kViewRole, table.view);
    item->setToolTip(0, text);  // the whole name, which the column may cut
    if (topLevelItemCount() == 1) setCurrentItem(item);
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
            item->data(0, kViewRole).toBool()};
}

void TableListView::Select(int index) {
    QTreeWidgetItem* item = topLevelItem(index - 1);
    if (item == nullptr) throw std::out_of_range("Index out of bounds");
    setCurrentItem(item);
}

}  // namespace windows
