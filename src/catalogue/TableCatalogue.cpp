#include "TableCatalogue.h"

namespace catalogue {

namespace {

QString textOf(const data::FieldValue& v) {
    return v.kind() == data::ValueKind::Text ? v.asText().toString() : QString();
}

}  // namespace

QString TableName::listed() const {
    if (schema.isEmpty() || schema == QStringLiteral("dbo")) return name;
    return schema + QLatin1Char('.') + name;
}

bool IsListedTableType(const QString& tableType) { return tableType == QStringLiteral("TABLE"); }

bool IsListedTableName(const QString& tableName) {
    return !tableName.toUpper().contains(QStringLiteral("SYS"));
}

void FillTableList(TableListItems& list, const connection::LoginDetails& details,
                   data::DataAccess& dataAccess, const std::function<void()>& processEvents) {
    const std::unique_ptr<data::Connection> connection = dataAccess.CreateConnection();
    connection->Open(connection::BuildConnectionString(details));
    const std::unique_ptr<data::Recordset> tables = connection->OpenSchemaTables();
    list.Clear();
    while (!tables->Eof()) {
        const data::Fields fields = tables->GetFields();
        if (IsListedTableType(textOf(fields.Item(QStringLiteral("TABLE_TYPE")).Value()))) {
            processEvents();
            const QString name = textOf(fields.Item(QStringLiteral("TABLE_NAME")).Value());
            if (IsListedTableName(name)) {
                list.Add({textOf(fields.Item(QStringLiteral("TABLE_SCHEM")).Value()), name});
            }
        }
        tables->MoveNext();
    }
    tables->Close();
    connection->Close();
}

}  // namespace catalogue
