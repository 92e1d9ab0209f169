#include "TableQuery.h"

namespace compare {

QString QuotedIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QStringLiteral("]"), QStringLiteral("]]"));
    return QLatin1Char('[') + quoted + QLatin1Char(']');
}

QString SelectAllFrom(const catalogue::TableName& table) {
    const QString name = QuotedIdentifier(table.name);
    return QStringLiteral("select * from ") +
           (table.schema.isEmpty() ? name
                                   : QuotedIdentifier(table.schema) + QLatin1Char('.') + name);
}

QString RowCountEstimateQuery(const catalogue::TableName& table) {
    QString name = QuotedIdentifier(table.name);
    if (!table.schema.isEmpty()) name = QuotedIdentifier(table.schema) + QLatin1Char('.') + name;
    name.replace(QStringLiteral("'"), QStringLiteral("''"));
    return QStringLiteral("select sum(rows) from sys.partitions where object_id = object_id(N'") +
           name + QStringLiteral("') and index_id in (0, 1)");
}

}  // namespace compare
