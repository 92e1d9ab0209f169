#pragma once

#include <QTreeWidget>

#include "TableCatalogue.h"

namespace windows {

// A one-column list of table names with single selection. After a fill the
// first item is selected, and while the list has items one of them stays selected.
class TableListView : public QTreeWidget, public catalogue::TableListItems {
    Q_OBJECT

public:
    explicit TableListView(QWidget* parent = nullptr);

    void Clear() override;
    void Add(const catalogue::TableName& table) override;

    // Adds the one column header (the list shows no column until then).
    void AddColumnHeader(const QString& text);
    void SetColumnWidth(int pixels);

    int Count() const { return topLevelItemCount(); }
    // 1-based position of the selected item; throws when none is selected.
    int SelectedIndex() const;
    // Text of the selected item, as listed; throws when none is selected.
    QString SelectedText() const;
    // The table the selected item stands for; throws when none is selected.
    catalogue::TableName SelectedTable() const;
    void Select(int index);  // 1-based

private:
    QTreeWidgetItem* selected() const;
};

}  // namespace windows
