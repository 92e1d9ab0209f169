#include "SqlNames.h"

namespace compare {

QString QuotedIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QStringLiteral("]"), QStringLiteral("]]"));
    return QLatin1Char('[') + quoted + QLatin1Char(']');
}

QString QualifiedName(const catalogue::TableName& table) {
    const QString name = QuotedIdentifier(table.name);
    return table.schema.isEmpty() ? name : QuotedIdentifier(table.schema) + QLatin1Char('.') + name;
}

}  // namespace compare
