#include "QueryChoice.h"

#include "RecordKey.h"
#include "Settings.h"

namespace windows {

namespace {

const connection::QuerySettingKeys& keysOf(compare::Side side) {
    return side == compare::Side::First ? connection::kFirstQuerySettings
                                        : connection::kSecondQuerySettings;
}

// The query's key columns; none when its editor names none.
QStringList keyColumns(const QueryChoice& query) {
    if (query.key.trimmed().isEmpty()) return {};
    const std::optional<QStringList> columns = compare::ColumnNamesFromText(query.key);
    if (!columns) {
        throw compare::OptionProblem(
            QStringLiteral("The key columns \"%1\" of %2 cannot be read: name them separated by "
                           "commas, a name that holds a comma in brackets.")
                .arg(query.key, query.name));
    }
    return *columns;
}

bool sameColumns(const QStringList& a, const QStringList& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype k = 0; k < a.size(); ++k) {
        if (a[k].compare(b[k], Qt::CaseInsensitive) != 0) return false;
    }
    return true;
}

}  // namespace

QString QueryChoice::DefaultName(compare::Side side) {
    return QStringLiteral("the %1 query").arg(compare::SideWord(side));
}

catalogue::TableName QueryChoice::table() const {
    catalogue::TableName t;
    t.name = name;
    t.query = sql;
    return t;
}

StoredQuery ReadStoredQuery(compare::Side side) {
    const connection::QuerySettingKeys& keys = keysOf(side);
    const connection::SettingsStore store;
    StoredQuery stored;
    stored.query.sql = store.read(keys.text);
    stored.query.key = store.read(keys.key);
    stored.query.name = store.read(keys.name).trimmed();
    if (stored.query.name.isEmpty()) stored.query.name = QueryChoice::DefaultName(side);
    stored.chosen = store.read(keys.chosen) == QStringLiteral("1");
    return stored;
}

void StoreQuery(compare::Side side, const QueryChoice& query) {
    const connection::QuerySettingKeys& keys = keysOf(side);
    connection::SettingsStore store;
    store.write(keys.text, query.sql);
    store.write(keys.key, query.key);
    store.write(keys.name, query.name);
}

void StoreQueryChosen(compare::Side side, bool chosen) {
    connection::SettingsStore().write(keysOf(side).chosen,
                                      chosen ? QStringLiteral("1") : QStringLiteral("0"));
}

void ApplyQueryKeys(compare::RunOptions& options, const std::optional<QueryChoice>& first,
                    const std::optional<QueryChoice>& second) {
    if (!options.key.automatic || (!first && !second)) return;
    std::optional<QStringList> key;
    for (const std::optional<QueryChoice>& query : {first, second}) {
        if (!query) continue;
        const QStringList columns = keyColumns(*query);
        if (columns.isEmpty()) {
            throw compare::OptionProblem(
                QStringLiteral("The records cannot be paired by key: %1 is a query, which has no "
                               "primary key. Name its key columns under \"Query\u2026\".")
                    .arg(query->name));
        }
        if (key && !sameColumns(*key, columns)) {
            throw compare::OptionProblem(
                QStringLiteral("The records cannot be paired by key: %1 names the key columns "
                               "%2, %3 names %4. Name the same columns for both under "
                               "\"Query\u2026\".")
                    .arg(first->name, key->join(QStringLiteral(", ")), second->name,
                         columns.join(QStringLiteral(", "))));
        }
        if (!key) key = columns;
    }
    options.key.automatic = false;
    options.key.columns = *key;
}

QString QueryChoiceRefusal(const compare::SideTable& first, const compare::SideTable& second,
                           const compare::SideNames& names) {
    if (!first.table.isQuery() && !second.table.isQuery()) return {};
    if (compare::SameQuery(first, second)) return compare::SameQueryText();
    if (names.first.compare(names.second, Qt::CaseInsensitive) == 0) {
        return QStringLiteral(
                   "Both sides would be named %1 in the results: give the query another name "
                   "under \"Query\u2026\".")
            .arg(names.first);
    }
    return {};
}

}  // namespace windows
