#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <vector>

#include "DatabaseReport.h"

namespace windows {

// The rows of the overview of all tables: one an entry of the run (a pair,
// or a table only one database has), in the listed order, with how it came
// out once it has. The texts and counts are the run's own (ResultText,
// PairingText, the summary's counts, PairTotals), so the overview and the
// command's report can never differ.
class OverviewModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        TableColumn,
        PairingColumn,
        ChangedColumn,
        AddedColumn,
        DeletedColumn,
        ColumnsOnlyInOneColumn,
        TimeColumn,
        ResultColumn,
        ColumnCount
    };
    // What a column sorts by: numbers as numbers, a count not had yet first.
    static constexpr int kSortRole = Qt::UserRole;

    explicit OverviewModel(QObject* parent = nullptr);

    // The entries of a new run, none of them done.
    void Reset(std::vector<compare::TableEntry> entries);
    // The row being compared is marked; none when nothing runs.
    void SetUnderWay(std::optional<int> row);
    void SetOutcome(int row, const compare::PairOutcome& outcome);

    const compare::TableEntry& entry(int row) const { return rows_.at(row).entry; }
    const std::optional<compare::PairOutcome>& outcome(int row) const {
        return rows_.at(row).outcome;
    }
    std::optional<int> underWay() const { return underWay_; }
    // How the rows done came out, and how many are done.
    compare::PairTotals totals() const;
    int doneCount() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Row {
        compare::TableEntry entry;
        std::optional<compare::PairOutcome> outcome;
    };
    QVariant display(const Row& row, int column, bool running) const;
    QVariant sortValue(const Row& row, int column) const;
    void rowChanged(int row);

    std::vector<Row> rows_;
    std::optional<int> underWay_;
};

}  // namespace windows
