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

bool IsListedTableType(const QString& tableType, bool withViews) {
    return tableType == QStringLiteral("TABLE") ||
           (withViews && tableType == QStringLiteral("VIEW"));
}

bool IsListedTableName(const QString& tableName) {
    return !tableName.toUpper().contains(QStringLiteral("SYS"));
}

bool IsSystemSchema(const QString& schema) {
    // A real server's schema rowset lists its catalogue views among the
    // user's own; they are never what a user means to compare.
    return schema.compare(QStringLiteral("sys"), Qt::CaseInsensitive) == 0 ||
           schema.compare(QStringLiteral("INFORMATION_SCHEMA"), Qt::CaseInsensitive) == 0;
}

CatalogueRead ReadTableCatalogue(const connection::LoginDetails& details,
                                 data::DataAccess& dataAccess, bool withViews) {
    const std::unique_ptr<data::Connection> connection = dataAccess.CreateConnection();
    connection->Open(connection::BuildConnectionString(details));
    const std::unique_ptr<data::Recordset> tables = connection->OpenSchemaTables();
    CatalogueRead read;
    try {
        while (!tables->Eof()) {
            const data::Fields fields = tables->GetFields();
            const QString type = textOf(fields.Item(QStringLiteral("TABLE_TYPE")).Value());
            if (IsListedTableType(type, withViews)) {
                const QString name = textOf(fields.Item(QStringLiteral("TABLE_NAME")).Value());
                const QString schema = textOf(fields.Item(QStringLiteral("TABLE_SCHEM")).Value());
                const bool view = type == QStringLiteral("VIEW");
                if (IsListedTableName(name) && !(view && IsSystemSchema(schema))) {
                    read.tables.push_back({schema, name, view});
                }
            }
            tables->MoveNext();
        }
        tables->Close();
        connection->Close();
    } catch (...) {
        read.failure = std::current_exception();
    }
    return read;
}

QStringList ReadServerDatabases(const connection::LoginDetails& details,
                                data::DataAccess& dataAccess) {
    const std::unique_ptr<data::Connection> connection = dataAccess.CreateConnection();
    connection->Open(connection::BuildConnectionString(details));
    const data::ResultTable names =
        connection->FetchQuery(QStringLiteral("select name from sys.databases"));
    QStringList out;
    for (std::size_t row = 0; names.fieldCount() > 0 && row < names.rowCount(); ++row) {
        const QString name = textOf(names.value(0, row));
        if (!name.isEmpty()) out << name;
    }
    connection->Close();
    out.sort(Qt::CaseInsensitive);
    return out;
}

void FillTableList(TableListItems& list, const CatalogueRead& read) {
    list.Clear();
    for (const TableName& table : read.tables) list.Add(table);
    if (read.failure) std::rethrow_exception(read.failure);
}

}  // namespace catalogue
