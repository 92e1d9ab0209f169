#include "TableQuery.h"

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

QString RowConditionProblem(QStringView condition) {
    int depth = 0;
    for (qsizetype i = 0; i < condition.size(); ++i) {
        const QChar c = condition[i];
        const QChar next = i + 1 < condition.size() ? condition[i + 1] : QChar();
        if (c == u'\'' || c == u'"' || c == u'[') {
            // A quoted text or name runs to its closing mark; a doubled
            // closing mark stands for itself.
            const QChar close = c == u'[' ? QChar(u']') : c;
            qsizetype j = i + 1;
            for (;; ++j) {
                if (j >= condition.size()) {
                    return c == u'[' ? QStringLiteral("a name in [ ] is not closed")
                                     : QStringLiteral("a quoted text or name is not closed");
                }
                if (condition[j] != close) continue;
                if (j + 1 < condition.size() && condition[j + 1] == close) {
                    ++j;
                    continue;
                }
                break;
            }
            i = j;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (--depth < 0) return QStringLiteral("a \")\" closes more than was opened");
        } else if (c == u';') {
            return QStringLiteral("\";\" would end the statement");
        } else if (c == u'-' && next == u'-') {
            return QStringLiteral("\"--\" would start a comment");
        } else if (c == u'/' && next == u'*') {
            return QStringLiteral("\"/*\" would start a comment");
        }
    }
    if (depth > 0) return QStringLiteral("a \"(\" is not closed");
    return QString();
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
