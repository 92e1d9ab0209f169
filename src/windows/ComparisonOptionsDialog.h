#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "PairOptions.h"

namespace windows {

// The options of one comparison of two tables: the first table's columns to
// leave out (and, when records are paired by key, the key's), the rows of
// each table, what counts as equal, and when to stop. OK checks them and
// keeps the dialog open with the problem said when one is wrong; Esc cancels.
class ComparisonOptionsDialog : public QDialog {
    Q_OBJECT

public:
    // columns: the first table's, in its order; keyed: whether records are
    // paired by key (else the key's column stays hidden, its ticks kept).
    ComparisonOptionsDialog(const TablePair& pair, const QStringList& columns, bool keyed,
                            const OptionChoices& options, QWidget* parent = nullptr);

    // The choices as they stand; after OK, as accepted.
    OptionChoices options() const;
    // What is wrong with the choices, or nothing.
    QString problem() const;

    void accept() override;

    // The controls by role, for whoever must name them from outside.
    QTreeWidget* columnList() const { return columns_; }
    QLineEdit* firstWhereEdit() const { return firstWhere_; }
    QCheckBox* sameWhereBox() const { return sameWhere_; }
    QLineEdit* secondWhereEdit() const { return secondWhere_; }
    QCheckBox* trimBox() const { return trim_; }
    QCheckBox* ignoreCaseBox() const { return ignoreCase_; }
    QCheckBox* nullEqualsEmptyBox() const { return nullEqualsEmpty_; }
    QLineEdit* toleranceEdit() const { return tolerance_; }
    QLineEdit* limitEdit() const { return limit_; }
    QLabel* problemLabel() const { return problem_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // The columns of the list.
    enum Column { NameColumn = 0, LeaveOutColumn = 1, KeyColumn = 2 };

private:
    struct Problem {
        QString text;
        QWidget* where = nullptr;  // the control to put right
    };
    Problem check() const;
    void makeColumnList(const QStringList& columns, const OptionChoices& options);
    void makeChoices(const OptionChoices& options);
    void layOut(const TablePair& pair);
    QStringList ticked(Column column) const;

    bool keyed_;
    QStringList hiddenKey_;  // the stored key, kept while records are paired by position
    QTreeWidget* columns_;
    QLineEdit* firstWhere_;
    QCheckBox* sameWhere_;
    QLineEdit* secondWhere_;
    QCheckBox* trim_;
    QCheckBox* ignoreCase_;
    QCheckBox* nullEqualsEmpty_;
    QLineEdit* tolerance_;
    QLineEdit* limit_;
    QLabel* problem_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace windows
