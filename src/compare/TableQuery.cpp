#include "TableQuery.h"

namespace compare {

QString SelectAllFrom(const QString& tableName) {
    QString quoted = tableName;
    quoted.replace(QStringLiteral("]"), QStringLiteral("]]"));
    return QStringLiteral("select * from [") + quoted + QLatin1Char(']');
}

}  // namespace compare
