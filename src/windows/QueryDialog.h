#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "CheckedDialog.h"
#include "QueryChoice.h"
#include "Side.h"

namespace windows {

// The query editor of one table list: the SELECT read in place of a table,
// its key columns (used when records are paired by key) and the name the
// lines give it. OK checks the query and keeps the dialog open with the
// reason said when it is refused; Esc cancels; "Remove Query" (when the list
// has a query) gives the list back its tables alone.
class QueryDialog : public CheckedDialog {
    Q_OBJECT

public:
    // The result of "Remove Query", beside Accepted and Rejected.
    static constexpr int Removed = 2;

    // query: the list's query, or an empty one (then named by the side's
    // default name) when it has none.
    QueryDialog(compare::Side side, const QueryChoice& query, QWidget* parent = nullptr);

    // The query as it stands; after OK, as accepted (a blank name: the
    // side's default name).
    QueryChoice query() const;

    // The controls by role, for whoever must name them from outside.
    QPlainTextEdit* sqlEdit() const { return sql_; }
    QLineEdit* keyEdit() const { return key_; }
    QLineEdit* nameEdit() const { return name_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* removeButton() const { return remove_; }

private:
    Problem check() const override;
    void layOut(bool hasQuery);

    compare::Side side_;
    QPlainTextEdit* sql_;
    QLineEdit* key_;
    QLineEdit* name_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* remove_;
};

}  // namespace windows
