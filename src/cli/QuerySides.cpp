#include "QuerySides.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <optional>

#include "Failure.h"
#include "Side.h"
#include "SideNames.h"
#include "UserQuery.h"

namespace cli {

namespace {

// More than any query a person writes; a device or a runaway file named by
// mistake is refused rather than read without end.
constexpr qint64 kLargestQueryFile = 1 << 20;

QString ReadQueryFile(const QString& path) {
    QFile file;
    const bool opened = path == QStringLiteral("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    const QString shown = path == QStringLiteral("-") ? QStringLiteral("standard input") : path;
    if (!opened) {
        fail(QStringLiteral("Cannot read the query file %1: %2").arg(shown, file.errorString()));
    }
    const QByteArray bytes = file.read(kLargestQueryFile + 1);
    if (bytes.size() > kLargestQueryFile) {
        fail(QStringLiteral("The query file %1 is larger than 1 MiB: no query is that long.")
                 .arg(shown));
    }
    if (file.error() != QFileDevice::NoError) {
        fail(QStringLiteral("Cannot read the query file %1: %2").arg(shown, file.errorString()));
    }
    return QString::fromUtf8(bytes);
}

// The side's query, if one is given: its text and its name.
std::optional<catalogue::TableName> GivenQuery(const QCommandLineParser& parser,
                                               compare::Side side) {
    const QString prefix = side == compare::Side::First ? QString() : QStringLiteral("right-");
    const QString inline_ = prefix + QStringLiteral("query");
    const QString fromFile = prefix + QStringLiteral("query-file");
    for (const QString& option : {inline_, fromFile}) {
        if (parser.values(option).size() > 1) {
            usageError(QStringLiteral("--%1 may be given once").arg(option));
        }
    }
    if (parser.isSet(inline_) && parser.isSet(fromFile)) {
        usageError(QStringLiteral("--%1 and --%2 exclude each other").arg(inline_, fromFile));
    }
    catalogue::TableName query;
    query.name = QStringLiteral("the %1 query").arg(compare::SideWord(side));
    if (parser.isSet(inline_)) {
        query.query = parser.value(inline_);
    } else if (parser.isSet(fromFile)) {
        const QString path = parser.value(fromFile);
        query.query = ReadQueryFile(path);
        if (path != QStringLiteral("-")) query.name = QFileInfo(path).fileName();
    } else {
        return std::nullopt;
    }
    if (query.query.trimmed().isEmpty()) {
        usageError(QStringLiteral("--%1: the query is empty")
                       .arg(parser.isSet(inline_) ? inline_ : fromFile));
    }
    const compare::UserQuery checked = compare::UserQuery::Read(query.query);
    if (!checked.problem().isEmpty()) {
        fail(QStringLiteral("%1 cannot be run: %2. Only a single SELECT is run.")
                 .arg(compare::AtSentenceStart(query.name), checked.problem()));
    }
    return query;
}

}  // namespace

void AddQueryOptions(QCommandLineParser& parser) {
    parser.addOptions({
        {"query",
         "Compare what the SELECT returns in place of the first table (LEFT is then left out); "
         "alone, it runs on both sides.",
         "SQL"},
        {"query-file", "--query, read from FILE (- for standard input).", "FILE"},
        {"right-query", "Compare what the SELECT returns in place of the second table.", "SQL"},
        {"right-query-file", "--right-query, read from FILE (- for standard input).", "FILE"},
    });
}

SideSources ReadSideSources(const QCommandLineParser& parser, const QStringList& tables) {
    if (parser.value(QStringLiteral("query-file")) == QStringLiteral("-") &&
        parser.value(QStringLiteral("right-query-file")) == QStringLiteral("-")) {
        usageError(QStringLiteral("only one query can be read from standard input"));
    }
    SideSources sources;
    std::optional<catalogue::TableName> first = GivenQuery(parser, compare::Side::First);
    std::optional<catalogue::TableName> second = GivenQuery(parser, compare::Side::Second);
    const qsizetype needed = (first ? 0 : 1) + (second ? 0 : 1);
    // The first's query alone asks both sides the same question.
    if (first && !second && tables.isEmpty()) {
        second = *first;
        second->name = first->name == QStringLiteral("the first query")
                           ? QStringLiteral("the second query")
                           : first->name;
    } else if (tables.size() != needed) {
        if (!first && !second) usageError(QStringLiteral("compare needs two table names"));
        usageError(needed == 0 ? QStringLiteral("compare takes no table name with two queries")
                               : QStringLiteral("compare needs one table name beside the query"));
    }
    qsizetype next = 0;
    if (first)
        sources.first.query = *first;
    else
        sources.first.table = tables[next++];
    if (second)
        sources.second.query = *second;
    else
        sources.second.table = tables[next++];
    // Two files of the same name in two folders: their paths tell them apart.
    if (first && second && first->name == second->name && first->query != second->query) {
        sources.first.query.name = parser.value(QStringLiteral("query-file"));
        sources.second.query.name = parser.value(QStringLiteral("right-query-file"));
    }
    return sources;
}

}  // namespace cli
