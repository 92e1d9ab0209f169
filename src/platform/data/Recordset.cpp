#include "ColumnStorage.h"
#include "DataAccess.h"

namespace data {

namespace {

[[noreturn]] void fail(const char* message) { throw DataError(QString::fromLatin1(message)); }

}  // namespace

std::unique_ptr<Recordset> Connection::OpenSchemaTables() {
    std::unique_ptr<Recordset> rs = NewRecordset();
    rs->OpenResult(FetchSchemaTables());
    return rs;
}

std::unique_ptr<Recordset> Connection::NewRecordset() { return std::make_unique<Recordset>(); }

const QString& Field::Name() const { return t_->column(i_).name(); }

FieldValue Field::Value() const {
    if (owner_) owner_->Before(Operation::FieldValue, Name());
    if (r_ >= t_->rowCount()) fail(messages::kNoCurrentRecord);
    return t_->value(i_, r_);
}

Field Fields::Item(int index) const {
    if (index < 0 || index >= Count()) fail(messages::kItemNotFound);
    return Field(*t_, index, r_, owner_);
}

Field Fields::Item(const QString& name) const {
    const int index = t_->indexOf(name);
    if (index < 0) fail(messages::kItemNotFound);
    return Field(*t_, index, r_, owner_);
}

void Recordset::Open(const QString& source, Connection& connection, int /*cursorType*/,
                     int /*lockType*/) {
    if (state_ == adStateOpen) fail(messages::kObjectOpen);
    OpenResult(connection.FetchQuery(source));
}

void Recordset::OpenResult(ResultTable table) {
    if (state_ == adStateOpen) fail(messages::kObjectOpen);
    table_ = std::move(table);
    row_ = 0;
    state_ = adStateOpen;
}

bool Recordset::Eof() const {
    Before(Operation::Eof, {});
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    return row_ >= table_.rowCount();
}

void Recordset::MoveNext() {
    Before(Operation::MoveNext, {});
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    if (row_ >= table_.rowCount()) fail(messages::kNoCurrentRecord);
    ++row_;
}

Fields Recordset::GetFields() const {
    Before(Operation::Fields, {});
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    return Fields(table_, row_, this);
}

ResultTable Recordset::GetRows() {
    Before(Operation::GetRows, {});
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    if (row_ >= table_.rowCount()) fail(messages::kNoCurrentRecord);

    // What stays behind: the same fields, no records, so the set is at EOF.
    ResultTable rest;
    for (int f = 0; f < table_.fieldCount(); ++f) {
        const Column& c = table_.column(f);
        rest.addColumn(c.name(), c.kind(), c.sqlType());
    }
    std::swap(rest, table_);
    if (row_ > 0) {
        for (int f = 0; f < rest.fieldCount(); ++f) eraseFrontRows(rest.column(f), row_);
    }
    row_ = 0;
    return rest;
}

void Recordset::Close() {
    Before(Operation::RecordsetClose, {});
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    table_ = ResultTable();
    row_ = 0;
    state_ = adStateClosed;
}

}  // namespace data
