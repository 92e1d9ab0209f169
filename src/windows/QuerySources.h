#pragma once

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <array>
#include <optional>

#include "QueryChoice.h"
#include "QueryDialog.h"
#include "Side.h"
#include "TableListView.h"

namespace windows {

// The queries the two table lists may read in place of a table: each
// list's "Query…" button (and a double-click on its query) opens the
// editor; an accepted query heads the list, chosen, until a table is chosen
// again. The queries, and which lists have theirs chosen, are stored with
// the user's settings and come back with the window.
class QuerySources : public QObject {
    Q_OBJECT

public:
    QuerySources(QWidget& window, TableListView& firstList, QPushButton& firstButton,
                 TableListView& secondList, QPushButton& secondButton);

    // The side's query, when its list has it chosen.
    std::optional<QueryChoice> Chosen(compare::Side side) const;
    // Opens the side's editor (window-modal).
    void Edit(compare::Side side);
    // The editor while it is open, else null.
    QueryDialog* dialog() const { return dialog_; }

private:
    struct Source {
        TableListView* list;
        QueryChoice query;  // an empty SQL: none
        bool storedChosen = false;
    };
    Source& source(compare::Side side) { return sources_[static_cast<std::size_t>(side)]; }
    const Source& source(compare::Side side) const {
        return sources_[static_cast<std::size_t>(side)];
    }
    void restore(compare::Side side);
    void noteChoice(compare::Side side);
    void finished(compare::Side side, const QueryDialog& dialog, int result);

    QWidget& window_;
    std::array<Source, 2> sources_;
    QPointer<QueryDialog> dialog_;
};

}  // namespace windows
