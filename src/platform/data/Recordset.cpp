#include "ColumnStorage.h"
#include "DataAccess.h"

namespace data {

namespace {

[[noreturn]] void fail(const char* message) { throw DataError(QString::fromLatin1(message)); }

}  // namespace

void Connection::SetOption(Option<Connection>& option, int value) { option.value_ = value; }

std::unique_ptr<Recordset> Connection::OpenSchemaTables() {
    std::unique_ptr<Recordset> rs = NewRecordset();
    rs->OpenResult(FetchSchemaTables());
    return rs;
}

std::unique_ptr<Recordset> Connection::NewRecordset() { return std::make_unique<Recordset>(); }

const QString& Field::Name() const { return rs_->NameOf(i_); }

FieldValue Field::Value() const { return rs_->ValueOf(i_); }

int Fields::Count() const { return rs_->table_.fieldCount(); }

Field Fields::Item(int index) const {
    if (index < 0 || index >= Count()) fail(messages::kItemNotFound);
    return Field(*rs_, index);
}

Field Fields::Item(const QString& name) const {
    const int index = rs_->table_.indexOf(name);
    if (index < 0) fail(messages::kItemNotFound);
    return Field(*rs_, index);
}

void Recordset::SetOption(Option<Recordset>& option, int value) { option.value_ = value; }

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
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    return row_ >= table_.rowCount();
}

void Recordset::MoveNext() {
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    if (row_ >= table_.rowCount()) fail(messages::kNoCurrentRecord);
    ++row_;
}

Fields Recordset::GetFields() const {
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    return Fields(*this);
}

// A Field may be kept past a Close, or past an Open of another result.
const Column& Recordset::columnOf(int field) const {
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    if (field < 0 || field >= table_.fieldCount()) fail(messages::kItemNotFound);
    return table_.column(field);
}

const QString& Recordset::NameOf(int field) const { return columnOf(field).name(); }

FieldValue Recordset::ValueOf(int field) const {
    const Column& column = columnOf(field);
    if (row_ >= table_.rowCount()) fail(messages::kNoCurrentRecord);
    return column.value(row_);
}

ResultTable Recordset::GetRows() {
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    if (row_ >= table_.rowCount()) fail(messages::kNoCurrentRecord);

    // What stays behind: the same fields, no records, so the set is at EOF.
    ResultTable rest;
    for (int f = 0; f < table_.fieldCount(); ++f) {
        const Column& c = table_.column(f);
        rest.addColumn(c.name(), c.kind(), c.sqlType(), c.declaredSize());
    }
    std::swap(rest, table_);
    if (row_ > 0) {
        for (int f = 0; f < rest.fieldCount(); ++f) eraseFrontRows(rest.column(f), row_);
    }
    row_ = 0;
    return rest;
}

void Recordset::Close() {
    if (state_ != adStateOpen) fail(messages::kObjectClosed);
    table_ = ResultTable();
    row_ = 0;
    state_ = adStateClosed;
}

}  // namespace data
