#include "PairOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "Settings.h"

namespace windows {

namespace {

// Enough for anyone's pairs; the oldest go first, so that the file does not
// grow with every pair ever compared.
constexpr qsizetype kMostPairs = 100;

QJsonArray namesArray(const QStringList& names) {
    QJsonArray a;
    for (const QString& n : names) a.append(n);
    return a;
}

QStringList namesOf(const QJsonValue& value) {
    QStringList out;
    for (const QJsonValue& v : value.toArray()) {
        if (v.isString() && !v.toString().isEmpty()) out << v.toString();
    }
    return out;
}

// The map as {"first": ..., "second": ...} objects: a name may hold "=".
QJsonArray mapArray(const std::vector<compare::ColumnMapping>& map) {
    QJsonArray a;
    for (const compare::ColumnMapping& m : map) {
        a.append(
            QJsonObject{{QStringLiteral("first"), m.first}, {QStringLiteral("second"), m.second}});
    }
    return a;
}

// Every entry kept, one edited into nonsense too (its names then empty or
// unknown), for the run to refuse: a pairing dropped unseen would compare
// other columns than the user chose.
std::vector<compare::ColumnMapping> mapOf(const QJsonValue& value) {
    std::vector<compare::ColumnMapping> map;
    for (const QJsonValue& v : value.toArray()) {
        const QJsonObject m = v.toObject();
        map.push_back(
            {m[QStringLiteral("first")].toString(), m[QStringLiteral("second")].toString()});
    }
    return map;
}

QJsonObject toJson(const TablePair& pair, const OptionChoices& o) {
    QJsonObject j;
    j[QStringLiteral("first")] = pair.first;
    j[QStringLiteral("second")] = pair.second;
    j[QStringLiteral("leaveOut")] = namesArray(o.leaveOut);
    j[QStringLiteral("key")] = namesArray(o.key);
    j[QStringLiteral("where")] = o.firstWhere;
    if (!o.sameWhere) j[QStringLiteral("secondWhere")] = o.secondWhere;
    j[QStringLiteral("trim")] = o.trim;
    j[QStringLiteral("ignoreCase")] = o.ignoreCase;
    j[QStringLiteral("nullEqualsEmpty")] = o.nullEqualsEmpty;
    if (o.checksums) j[QStringLiteral("method")] = QStringLiteral("checksum");
    if (o.snapshot) j[QStringLiteral("snapshot")] = true;
    j[QStringLiteral("tolerance")] = o.tolerance;
    // As text: a JSON number is a double, which would round a large limit.
    j[QStringLiteral("limit")] = o.limit.isEmpty() ? QStringLiteral("0") : o.limit;
    if (!o.map.empty()) j[QStringLiteral("map")] = mapArray(o.map);
    return j;
}

// As stored: a value edited by hand into something wrong stays as it is,
// for the run to refuse with a word rather than to drop.
OptionChoices fromJson(const QJsonObject& j) {
    OptionChoices o;
    o.leaveOut = namesOf(j[QStringLiteral("leaveOut")]);
    o.key = namesOf(j[QStringLiteral("key")]);
    o.firstWhere = j[QStringLiteral("where")].toString();
    o.sameWhere = !j.contains(QStringLiteral("secondWhere"));
    o.secondWhere = j[QStringLiteral("secondWhere")].toString();
    o.trim = j[QStringLiteral("trim")].toBool();
    o.ignoreCase = j[QStringLiteral("ignoreCase")].toBool();
    o.nullEqualsEmpty = j[QStringLiteral("nullEqualsEmpty")].toBool();
    o.checksums = j[QStringLiteral("method")].toString() == QStringLiteral("checksum");
    o.snapshot = j[QStringLiteral("snapshot")].toBool();
    o.tolerance = j[QStringLiteral("tolerance")].toString();
    o.limit = j[QStringLiteral("limit")].toString();
    if (o.limit == u'0') o.limit.clear();
    o.map = mapOf(j[QStringLiteral("map")]);
    return o;
}

bool isPair(const QJsonValue& entry, const TablePair& pair) {
    const QJsonObject j = entry.toObject();
    return j[QStringLiteral("first")].toString() == pair.first &&
           j[QStringLiteral("second")].toString() == pair.second;
}

// The stored pairs; a value that is no JSON array (edited by hand) holds none.
QJsonArray storedPairs(const connection::SettingsStore& store) {
    return QJsonDocument::fromJson(store.read(connection::kPairOptionsSetting).toUtf8()).array();
}

}  // namespace

OptionChoices StoredPairOptions(const TablePair& pair) {
    const connection::SettingsStore store;
    for (const QJsonValue& entry : storedPairs(store)) {
        if (isPair(entry, pair)) return fromJson(entry.toObject());
    }
    return OptionChoices();
}

bool StorePairOptions(const TablePair& pair, const OptionChoices& options) {
    connection::SettingsStore store;
    const QJsonArray old = storedPairs(store);
    QJsonArray pairs;
    // Options all off are what a pair without any has: nothing to keep.
    if (!(options == OptionChoices())) pairs.append(toJson(pair, options));
    for (const QJsonValue& entry : old) {
        if (pairs.size() >= kMostPairs) break;
        if (!isPair(entry, pair)) pairs.append(entry);
    }
    return store.write(connection::kPairOptionsSetting,
                       QString::fromUtf8(QJsonDocument(pairs).toJson(QJsonDocument::Compact)));
}

}  // namespace windows
