#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <memory>
#include <vector>

#include "RecordStore.h"

namespace windows {

// A count as the windows write it: grouped by the user's locale, so that a
// million reads the same in the filters and in the headers.
QString GroupedNumber(std::int64_t n);

// A run's differing records as a grid, read from their store a page at a
// time: the key's columns (by position, the record's number), then each
// field as two adjacent columns, the first table's value and the second's.
// Changed cells are shaded and bold, a NULL is an italic NULL, and the side
// a record is missing from is blank and grey.
//
// The views see a window of the filter's records, kWindowRows of them from
// offset(), never the whole: a view keeps a few bytes for each row it is
// given, and a million records must not cost memory. Rows of the model are
// rows of the window; records are numbered from 0 in the filter.
class DifferingRecordsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    DifferingRecordsModel(std::shared_ptr<const compare::RecordStore> store, QString firstTable,
                          QString secondTable, QObject* parent = nullptr);

    const compare::RecordStore& store() const { return *store_; }
    compare::RecordFilter filter() const { return filter_; }
    void setFilter(compare::RecordFilter filter);

    int keyColumns() const { return keyColumns_; }
    // The field a column shows, and whether it is the first table's; -1 for a key column.
    int fieldOf(int column) const;
    bool firstSideColumn(int column) const { return (column - keyColumns_) % 2 == 0; }
    int columnOf(int field, bool firstSide) const {
        return keyColumns_ + 2 * field + (firstSide ? 0 : 1);
    }
    // Whether a field is one of the key's (shown among the key's columns already).
    bool keyField(int field) const;
    // The window's rows.
    static constexpr int kWindowRows = 2000;
    std::int64_t total() const { return total_; }
    std::int64_t offset() const { return offset_; }
    // Moves the window so that it starts at (or as near as it can to) the
    // record; the views' indexes move with their records, or go.
    void setOffset(std::int64_t record);
    // The record of a row of the window, or of the filter, read through the
    // page cache; null outside.
    const compare::DifferingRecord* record(int row) const { return recordAt(offset_ + row); }
    const compare::DifferingRecord* recordAt(std::int64_t record) const;
    // A cell as copied: its text, NULL for a NULL, empty for a missing side.
    QString cellText(const QModelIndex& index) const;
    // A record's cell as data() gives it for a row; records outside the
    // window too (the columns are sized over all the records).
    QVariant cellData(const compare::DifferingRecord& r, int column, int role) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    using Page = std::vector<compare::DifferingRecord>;
    // The cell's value; absent: the side lacks the record.
    std::optional<compare::ValueCell> value(const compare::DifferingRecord& r, int column) const;

    std::shared_ptr<const compare::RecordStore> store_;
    QString firstTable_, secondTable_;
    compare::RecordFilter filter_ = compare::RecordFilter::All;
    int keyColumns_ = 1;
    std::int64_t total_ = 0;
    std::int64_t offset_ = 0;
    int rows_ = 0;  // of the window
    mutable QCache<qint64, Page> pages_;
};

}  // namespace windows
