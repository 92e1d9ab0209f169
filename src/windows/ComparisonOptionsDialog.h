#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "CheckedDialog.h"
#include "PairOptions.h"

namespace windows {

// The options of one comparison of two tables: the first table's columns to
// leave out (and, when records are paired by key, the key's), the second
// table's column each is paired with, the rows of each table, what counts as
// equal, and when to stop. OK checks them and keeps the dialog open with the
// problem said when one is wrong; Esc cancels.
class ComparisonOptionsDialog : public CheckedDialog {
    Q_OBJECT

public:
    // Both tables' columns, each in its table's order.
    struct TableColumns {
        QStringList first;
        QStringList second;
    };
    // How the run pairs what the map leaves.
    struct Pairing {
        bool recordsByKey = false;  // else the key's column stays hidden, its ticks kept
        bool fieldsByName = false;  // else by position
    };
    ComparisonOptionsDialog(const TablePair& pair, const TableColumns& columns,
                            const Pairing& pairing, const OptionChoices& options,
                            QWidget* parent = nullptr);

    // The choices as they stand; after OK, as accepted.
    OptionChoices options() const;

    // The controls by role, for whoever must name them from outside.
    QTreeWidget* columnList() const { return columns_; }
    // The second table's column a row of the list is paired with: an item
    // per column of the second table (its name as data), "(none)" first.
    QComboBox* pairedBox(int row) const;
    QLineEdit* firstWhereEdit() const { return firstWhere_; }
    QCheckBox* sameWhereBox() const { return sameWhere_; }
    QLineEdit* secondWhereEdit() const { return secondWhere_; }
    QCheckBox* trimBox() const { return trim_; }
    QCheckBox* ignoreCaseBox() const { return ignoreCase_; }
    QCheckBox* nullEqualsEmptyBox() const { return nullEqualsEmpty_; }
    QLineEdit* toleranceEdit() const { return tolerance_; }
    QLineEdit* limitEdit() const { return limit_; }
    QCheckBox* checksumsBox() const { return checksums_; }
    QCheckBox* snapshotBox() const { return snapshot_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // The columns of the list.
    enum Column { NameColumn = 0, LeaveOutColumn = 1, KeyColumn = 2, PairedColumn = 3 };

private:
    // The columns the run reads (those not left out), by name.
    struct Kept {
        QStringList first;
        QStringList second;
        std::vector<int> rowOf;  // each of first's row in the list
    };
    Problem check() const override;
    void makeColumnList(const TableColumns& columns, const OptionChoices& options);
    void addPairedBox(QTreeWidgetItem* item, int row);
    Kept kept() const;
    // The second table's column each row is paired with under this map
    // (empty: none), as the run would pair them.
    std::vector<QString> pairedUnder(const Kept& kept,
                                     const std::vector<compare::ColumnMapping>& map) const;
    // The map without the pairs the run would make anyway.
    std::vector<compare::ColumnMapping> mapBeyondDefault() const;
    void pick(int row);
    void showPairing();
    void makeChoices(const OptionChoices& options);
    void layOut(const TablePair& pair);
    QStringList ticked(Column column) const;

    bool keyed_;
    bool byName_;
    QStringList secondColumns_;
    std::vector<compare::ColumnMapping> map_;  // as picked, the stored pairs first
    bool showing_ = false;                     // the boxes are being set, not picked
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
    QCheckBox* checksums_;
    QCheckBox* snapshot_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace windows
