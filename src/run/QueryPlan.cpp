#include "QueryPlan.h"

#include <algorithm>
#include <tuple>

#include "SideNames.h"
#include "TableQuery.h"

namespace compare {

namespace {

// The fields of a described table the query reads: all but those left out.
std::vector<int> keptColumns(const data::ResultTable& columns, const QStringList& ignore) {
    const QStringList names = data::ColumnNames(columns);
    std::vector<int> kept;
    for (int k = 0; k < columns.fieldCount(); ++k) {
        if (!IsLeftOut(ignore, names, k)) kept.push_back(k);
    }
    return kept;
}

// What the query reads of the columns kept; none when none is left out and
// none is converted, so that the query stays "select *".
QStringList selectList(const data::ResultTable& columns, const std::vector<int>& kept) {
    QStringList items;
    bool plain = static_cast<int>(kept.size()) == columns.fieldCount();
    for (const int k : kept) {
        items << SelectItem(columns.column(k));
        if (ReadThroughUnicode(columns.column(k))) plain = false;
    }
    if (plain) items.clear();
    return items;
}

// A described column's place among the columns read.
int placeAmong(const std::vector<int>& kept, int column) {
    return static_cast<int>(std::find(kept.begin(), kept.end(), column) - kept.begin());
}

KeyProblem KeyLeftOut(const QString& column) {
    return KeyProblem(QStringLiteral("The records cannot be paired by key: the key column "
                                     "\"%1\" is left out of the comparison.")
                          .arg(column));
}

// A column to leave out must be in one table at least: a misspelt name would
// otherwise leave nothing out without a word.
void RefuseUnknownLeftOut(const RunOptions& options, const QString& firstName,
                          const QString& secondName, const TableShapes& shapes) {
    for (const QString& name : options.ignore) {
        for (const auto& [columns, table] : {std::pair{&shapes.first.columns, &firstName},
                                             std::pair{&shapes.second.columns, &secondName}}) {
            if (data::FindName(data::ColumnNames(*columns), name) == data::kNameDiffersOnlyByCase) {
                throw OptionProblem(
                    QStringLiteral("%1 has several columns named \"%2\" but for case: name the "
                                   "column to leave out as it is written.")
                        .arg(AtSentenceStart(*table), name));
            }
        }
        if (options.ignoreWhereFound || shapes.first.columns.indexOf(name) >= 0 ||
            shapes.second.columns.indexOf(name) >= 0) {
            continue;
        }
        throw OptionProblem(
            firstName == secondName
                ? QStringLiteral("Neither table %1 has a column \"%2\" to leave out.")
                      .arg(firstName, name)
                : QStringLiteral("Neither %1 nor %2 has a column \"%3\" to leave out.")
                      .arg(firstName, secondName, name));
    }
}

// A mapped name must be a column of its own table: checked before any row
// is read, as a key's names are.
void RefuseUnknownMapped(const RunOptions& options, const QString& firstName,
                         const QString& secondName, const TableShapes& shapes) {
    for (const ColumnMapping& m : options.map) {
        for (const auto& [name, columns, table] :
             {std::tuple{&m.first, &shapes.first.columns, &firstName},
              std::tuple{&m.second, &shapes.second.columns, &secondName}}) {
            if (data::FindName(data::ColumnNames(*columns), *name) ==
                data::kNameDiffersOnlyByCase) {
                throw OptionProblem(QStringLiteral("The columns cannot be mapped: %1 has several "
                                                   "columns named \"%2\" but for case; write the "
                                                   "name as it is written there.")
                                        .arg(*table, *name));
            }
            if (columns->indexOf(*name) >= 0) continue;
            throw OptionProblem(
                QStringLiteral("The columns cannot be mapped: %1 has no column \"%2\".")
                    .arg(*table, *name));
        }
    }
}

// What reads a side. By position, a query's own ORDER BY is the order its
// records are paired in: the select around it orders by its items, over all
// its columns and rows (whose texts then come as the driver converts them).
QString sideSelect(const catalogue::TableName& table, const QStringList& columns, bool leavesOut,
                   const QString& condition, bool byKey) {
    if (byKey || !table.isQuery() || !CheckedQuery(table).ordered()) {
        return SelectFrom(table, columns, condition);
    }
    if (!leavesOut && condition.isEmpty()) return SelectAllFrom(table);
    throw OptionProblem(
        QStringLiteral("%1 is paired by position in the order of its own ORDER BY, which it "
                       "keeps only when it is run as it is: leave out its columns and rows "
                       "inside the query, or pair the records by key.")
            .arg(AtSentenceStart(table.name)));
}

}  // namespace

void RefuseNamedKeyLeftOut(const RunOptions& options) {
    for (const QString& column : options.key.columns) {
        if (options.ignore.contains(column, Qt::CaseInsensitive)) throw KeyLeftOut(column);
    }
}

QueryPlan PlanQueryText(const RunOptions& options, const catalogue::TableName& first,
                        const catalogue::TableName& second, const TableShapes* shapes) {
    RefuseNamedKeyLeftOut(options);
    QueryPlan plan;
    if (shapes == nullptr) {
        plan.queries = {sideSelect(first, {}, false, options.where, false),
                        sideSelect(second, {}, false, options.secondWhere(), false)};
        return plan;
    }
    const QString firstName = first.listed();
    const QString secondName = second.listed();
    RefuseUnknownLeftOut(options, firstName, secondName, *shapes);
    RefuseUnknownMapped(options, firstName, secondName, *shapes);
    if (options.key.pairsByKey()) {
        plan.key = ResolveRecordKey(options.key, firstName, shapes->first, secondName,
                                    shapes->second, options.map);
        for (const QString& column : plan.key->names) {
            if (options.ignore.contains(column, Qt::CaseInsensitive)) throw KeyLeftOut(column);
        }
    }
    const std::vector<int> firstKept = keptColumns(shapes->first.columns, options.ignore);
    const std::vector<int> secondKept = keptColumns(shapes->second.columns, options.ignore);
    for (const auto& [kept, name] :
         {std::pair{&firstKept, &firstName}, {&secondKept, &secondName}}) {
        if (kept->empty()) {
            throw OptionProblem(
                QStringLiteral("Every column of %1 is left out: nothing of it is left to compare.")
                    .arg(*name));
        }
    }
    const bool byKey = plan.key.has_value();
    plan.queries = {
        sideSelect(first, selectList(shapes->first.columns, firstKept),
                   static_cast<int>(firstKept.size()) < shapes->first.columns.fieldCount(),
                   options.where, byKey),
        sideSelect(second, selectList(shapes->second.columns, secondKept),
                   static_cast<int>(secondKept.size()) < shapes->second.columns.fieldCount(),
                   options.secondWhere(), byKey)};
    if (!plan.key) return plan;
    plan.queries[0] += KeyOrder(shapes->first.columns, plan.key->first);
    plan.queries[1] += KeyOrder(shapes->second.columns, plan.key->second);
    // The engine finds the key among the fields read.
    for (int& f : plan.key->first) f = placeAmong(firstKept, f);
    for (int& f : plan.key->second) f = placeAmong(secondKept, f);
    return plan;
}

}  // namespace compare
