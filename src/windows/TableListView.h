#pragma once

#include <QTreeWidget>
#include <optional>

#include "TableCatalogue.h"

namespace windows {

// A one-column list of table names with single selection. After a fill the
// first item is selected, and while the list has items one of them stays selected.
// A query read in place of a table may head the list ("Query: its name"):
// it is the user's, not the catalogue's, so a fill leaves it there, chosen
// if it was (else the first table is).
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

    // Puts the query at the head of the list (in place of the one there),
    // chosen when choose is set; RemoveQuery takes it away, the first table
    // chosen in its place when it was chosen.
    void SetQuery(const catalogue::TableName& query, bool choose);
    void RemoveQuery();
    // The query heading the list, if one does, and whether it is the choice.
    std::optional<catalogue::TableName> Query() const;
    bool QueryChosen() const;

private:
    QTreeWidgetItem* selected() const;
    QTreeWidgetItem* queryItem() const;
    bool firstTableTakesChoice_ = false;  // during a fill: the query was not chosen
};

}  // namespace windows
