#include "QuerySources.h"

#include "Window.h"

namespace windows {

using compare::Side;

QuerySources::QuerySources(QWidget& window, TableListView& firstList, QPushButton& firstButton,
                           TableListView& secondList, QPushButton& secondButton)
    : QObject(&window),
      window_(window),
      sources_{Source{&firstList, {}, false}, Source{&secondList, {}, false}} {
    for (const auto& [side, button] :
         {std::pair{Side::First, &firstButton}, std::pair{Side::Second, &secondButton}}) {
        restore(side);
        TableListView* list = source(side).list;
        connect(button, &QPushButton::clicked, this, [this, side] { Edit(side); });
        connect(list, &QTreeWidget::itemSelectionChanged, this, [this, side] { noteChoice(side); });
        connect(list, &QTreeWidget::itemDoubleClicked, this, [this, side, list] {
            if (list->QueryChosen()) Edit(side);
        });
    }
}

// The stored query back at the head of its list; the catalogue's fill that
// follows leaves it chosen only if it was.
void QuerySources::restore(Side side) {
    const StoredQuery stored = ReadStoredQuery(side);
    Source& s = source(side);
    if (stored.query.sql.trimmed().isEmpty()) return;
    s.query = stored.query;
    s.storedChosen = stored.chosen;
    s.list->SetQuery(s.query.table(), stored.chosen);
}

std::optional<QueryChoice> QuerySources::Chosen(Side side) const {
    const Source& s = source(side);
    if (s.query.sql.isEmpty() || !s.list->QueryChosen()) return std::nullopt;
    return s.query;
}

// The user's choice between the query and the tables, stored as it changes.
void QuerySources::noteChoice(Side side) {
    Source& s = source(side);
    const bool chosen = s.list->QueryChosen();
    if (chosen == s.storedChosen) return;
    s.storedChosen = chosen;
    StoreQueryChosen(side, chosen);
}

void QuerySources::Edit(Side side) {
    if (dialog_) return;
    QueryChoice shown = source(side).query;
    if (shown.sql.isEmpty()) shown.name = QueryChoice::DefaultName(side);
    auto* dialog = new QueryDialog(side, shown, &window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowIcon(ProgramIcon());
    dialog_ = dialog;
    connect(dialog, &QDialog::finished, this,
            [this, side, dialog](int result) { finished(side, *dialog, result); });
    dialog->open();
}

void QuerySources::finished(Side side, const QueryDialog& dialog, int result) {
    dialog_ = nullptr;  // it goes when control is back in the event loop
    Source& s = source(side);
    if (result == QDialog::Accepted) {
        s.query = dialog.query();
        StoreQuery(side, s.query);
        s.list->SetQuery(s.query.table(), true);
        s.list->scrollToTop();
    } else if (result == QueryDialog::Removed) {
        s.query = QueryChoice();
        StoreQuery(side, s.query);
        s.list->RemoveQuery();
    }
    noteChoice(side);
}

}  // namespace windows
