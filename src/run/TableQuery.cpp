#include "TableQuery.h"

#include "RecordKey.h"
#include "SideNames.h"
#include "SqlNames.h"

namespace compare {

UserQuery CheckedQuery(const catalogue::TableName& table) {
    UserQuery query = UserQuery::Read(table.query);
    if (!query.problem().isEmpty()) {
        throw OptionProblem(QStringLiteral("%1 cannot be run: %2. Only a single SELECT is run.")
                                .arg(AtSentenceStart(table.name), query.problem()));
    }
    return query;
}

QString SelectAllFrom(const catalogue::TableName& table) {
    // Its own order is the order of a run by position; a derived table
    // would not keep it, so the select around it orders.
    if (table.isQuery()) {
        const UserQuery query = CheckedQuery(table);
        if (query.ordered() && !query.orderProblem().isEmpty()) {
            throw OptionProblem(
                QStringLiteral("%1 is paired by position in the order of its own ORDER BY: "
                               "%2. Pair its records by key otherwise.")
                    .arg(AtSentenceStart(table.name), query.orderProblem()));
        }
        if (query.ordered()) return query.InItsOrder();
    }
    return SelectFrom(table, QStringList(), QString());
}

namespace {

// ODBC's types of char, varchar and text.
constexpr int kChar = 1, kVarChar = 12, kLongVarChar = -1;

}  // namespace

bool ReadThroughUnicode(const data::Column& column) {
    const int t = column.sqlType();
    return t == kChar || t == kVarChar || t == kLongVarChar;
}

QString SelectItem(const data::Column& column) {
    const QString name = QuotedIdentifier(column.name());
    if (!ReadThroughUnicode(column)) return name;
    // Beyond 4000 characters only nvarchar(max) holds them.
    constexpr std::int64_t kLongestNVarChar = 4000;
    const std::int64_t n = column.declaredSize();
    const QString length = n > 0 && n <= kLongestNVarChar && column.sqlType() != kLongVarChar
                               ? QString::number(n)
                               : QStringLiteral("max");
    return QStringLiteral("cast(%1 as nvarchar(%2)) as %1").arg(name, length);
}

QString SelectFrom(const catalogue::TableName& table, const QStringList& items,
                   const QString& condition) {
    const QString list = items.isEmpty() ? QStringLiteral("*") : items.join(QStringLiteral(", "));
    const QString where =
        condition.isEmpty() ? QString() : QStringLiteral(" where (") + condition + QLatin1Char(')');
    if (table.isQuery()) return CheckedQuery(table).Around(list, where);
    return QStringLiteral("select ") + list + QStringLiteral(" from ") + QualifiedName(table) +
           where;
}

QString DescribeQuery(const catalogue::TableName& table) {
    return SelectFrom(table, QStringList(), QString()) + QStringLiteral(" where 1 = 0");
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
    if (table.isQuery()) return QString();  // no count short of running it
    return QStringLiteral("select sum(rows) from sys.partitions where object_id = object_id(") +
           ObjectNameLiteral(table) + QStringLiteral(") and index_id in (0, 1)");
}

QString ColumnFillsQuery(const catalogue::TableName& table) {
    return QStringLiteral(
               "select name, is_identity, is_computed, system_type_id, collation_name from "
               "sys.columns "
               "where object_id = object_id(") +
           ObjectNameLiteral(table) + QStringLiteral(") order by column_id");
}

}  // namespace compare

namespace compare {

// Each a query of its own, so that a server without one of these views (a
// version before it) answers the others: the caller takes its "invalid
// object name" for none.
GuardQueries GuardQueriesFor(const catalogue::TableName& table) {
    const QString object = QStringLiteral("object_id(") + ObjectNameLiteral(table) + u')';
    return {
        .triggers = QStringLiteral("select name from sys.triggers where parent_id = ") + object +
                    QStringLiteral(" and is_disabled = 0 order by name"),
        .references = QStringLiteral("select name, object_schema_name(parent_object_id), "
                                     "object_name(parent_object_id), delete_referential_action, "
                                     "update_referential_action from sys.foreign_keys where "
                                     "referenced_object_id = ") +
                      object + QStringLiteral(" order by name"),
        .periodColumns = QStringLiteral("select name from sys.columns where object_id = ") +
                         object +
                         QStringLiteral(" and generated_always_type <> 0 order by column_id"),
        .memoryOptimized =
            QStringLiteral("select is_memory_optimized from sys.tables where object_id = ") +
            object,
        .rowFilter = QStringLiteral(
                         "select count(*) from sys.security_predicates where target_object_id = ") +
                     object,
        .masked = QStringLiteral("select name from sys.masked_columns where object_id = ") +
                  object +
                  QStringLiteral(" and has_perms_by_name(db_name(), 'DATABASE', 'UNMASK') = 0 "
                                 "order by column_id"),
    };
}

}  // namespace compare
