#include "TableQuery.h"

#include "SqlNames.h"

namespace compare {

QString SelectAllFrom(const catalogue::TableName& table) {
    return SelectFrom(table, QStringList(), QString());
}

QString SelectFrom(const catalogue::TableName& table, const QStringList& columns,
                   const QString& condition) {
    QString sql = QStringLiteral("select ");
    if (columns.isEmpty()) sql += QLatin1Char('*');
    for (qsizetype k = 0; k < columns.size(); ++k) {
        if (k > 0) sql += QStringLiteral(", ");
        sql += QuotedIdentifier(columns[k]);
    }
    sql += QStringLiteral(" from ") + QualifiedName(table);
    if (!condition.isEmpty()) sql += QStringLiteral(" where (") + condition + QLatin1Char(')');
    return sql;
}

namespace {

// The table's name as object_id() reads it, inside N'...'.
QString ObjectNameLiteral(const catalogue::TableName& table) {
    QString name = QualifiedName(table);
    name.replace(QStringLiteral("'"), QStringLiteral("''"));
    return QStringLiteral("N'") + name + QLatin1Char('\'');
}

}  // namespace

QString RowCountEstimateQuery(const catalogue::TableName& table) {
    return QStringLiteral("select sum(rows) from sys.partitions where object_id = object_id(") +
           ObjectNameLiteral(table) + QStringLiteral(") and index_id in (0, 1)");
}

QString ColumnFillsQuery(const catalogue::TableName& table) {
    return QStringLiteral(
               "select name, is_identity, is_computed, system_type_id from sys.columns "
               "where object_id = object_id(") +
           ObjectNameLiteral(table) + QStringLiteral(") order by column_id");
}

}  // namespace compare
