#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "FieldValue.h"

namespace data {

// All values of one field of a result, in record order, in compact typed
// storage (one kind per column; nulls in a side mask).
class Column {
public:
    Column(QString name, ValueKind kind, int sqlType = 0, std::int64_t declaredSize = 0);
    Column(Column&&) noexcept;
    Column& operator=(Column&&) noexcept;
    ~Column();

    const QString& name() const { return name_; }
    ValueKind kind() const { return kind_; }
    int sqlType() const { return sqlType_; }  // the ODBC SQL type the driver reported
    // The column's size as the driver described it (characters of a text,
    // 0 when it did not say).
    std::int64_t declaredSize() const { return declaredSize_; }
    std::size_t size() const;

    // The value at row; its text or bytes view into this column's storage.
    FieldValue value(std::size_t row) const;

    // Appending a value of another kind than the column's (nulls aside) throws DataError.
    void append(const FieldValue& v);
    void reserve(std::size_t rows);

private:
    friend struct ColumnAccess;  // the fetcher writes blocks straight into the storage
    struct Storage;
    QString name_;
    ValueKind kind_;
    int sqlType_;
    std::int64_t declaredSize_;
    std::unique_ptr<Storage> s_;
};

// How two stored cells compare as stored, without building their values:
// Same when both are null or hold the same stored value of one kind;
// Different when exactly one is null, or both hold values of one kind whose
// stored forms differ where equal values have equal forms (integers, bits,
// doubles, texts and bytes code unit by code unit, decimals of one scale,
// dates and times of the same parts); Unknown otherwise (other kinds or
// scales): the value rules must decide.
enum class StoredComparison { Same, Different, Unknown };
StoredComparison CompareStored(const Column& a, std::size_t rowA, const Column& b,
                               std::size_t rowB);

// A whole result, column by column: what a static client-side cursor holds
// after Open and what GetRows hands over, indexed [field][record].
class ResultTable;

// Where a name finds its column, as a database of any collation can hold it:
// the name exactly, else the one name equal to it without case (in a
// case-sensitive database "Total" and "TOTAL" are two columns, and "total"
// names neither). kNoName when none matches, kNameDiffersOnlyByCase when
// several match without case and none exactly.
inline constexpr int kNoName = -1;
inline constexpr int kNameDiffersOnlyByCase = -2;
int FindName(const QStringList& names, const QString& name);
// The names of a table's columns, in order.
QStringList ColumnNames(const ResultTable& table);

class ResultTable {
public:
    ResultTable() = default;
    ResultTable(ResultTable&&) noexcept = default;
    ResultTable& operator=(ResultTable&&) noexcept = default;
    ResultTable(const ResultTable&) = delete;
    ResultTable& operator=(const ResultTable&) = delete;

    int fieldCount() const { return static_cast<int>(columns_.size()); }
    std::size_t rowCount() const { return columns_.empty() ? 0 : columns_.front().size(); }
    const Column& column(int field) const { return columns_.at(static_cast<std::size_t>(field)); }
    Column& column(int field) { return columns_.at(static_cast<std::size_t>(field)); }
    FieldValue value(int field, std::size_t row) const { return column(field).value(row); }

    Column& addColumn(QString name, ValueKind kind, int sqlType = 0, std::int64_t declaredSize = 0);
    // A table with the same columns and no rows.
    ResultTable withoutRows() const;
    // Drops every row, keeping the columns and the memory they had, so that
    // the next block of the same shape needs no allocation.
    void clearRows();
    // Index of the column of that name (by FindName), or -1 when none or several match.
    int indexOf(const QString& name) const;

private:
    std::deque<Column> columns_;  // a deque, so that addColumn's references stay valid
};

}  // namespace data
