#include "SideNames.h"

#include "SqlNames.h"

namespace compare {

namespace {

bool sameText(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool sameServer(const connection::LoginDetails& a, const connection::LoginDetails& b) {
    return sameText(ServerName(a), ServerName(b));
}

// A part of a qualified name: as it is when it is a plain identifier, else
// bracketed with "]" doubled, as SQL Server writes it.
QString part(const QString& text) {
    bool plain = !text.isEmpty() && !text.front().isDigit();
    for (const QChar c : text) plain = plain && (c.isLetterOrNumber() || c == u'_');
    return plain ? text : QuotedIdentifier(text);
}

QString qualified(const SideTable& side, bool withServer) {
    // A query has no name of its own to qualify: where it ran is said after it.
    if (side.table.isQuery()) {
        QString name = side.table.name + QStringLiteral(" on ") + part(side.login.database);
        if (withServer) name += QStringLiteral(" at ") + ServerName(side.login);
        return name;
    }
    const QString schema = side.table.schema.isEmpty() ? QStringLiteral("dbo") : side.table.schema;
    QString name = part(side.login.database) + QLatin1Char('.') + part(schema) + QLatin1Char('.') +
                   part(side.table.name);
    if (withServer) name.prepend(part(ServerName(side.login)) + QLatin1Char('.'));
    return name;
}

}  // namespace

QString ServerName(const connection::LoginDetails& login) {
    return login.localConnection ? login.server : login.server + QLatin1Char(',') + login.port;
}

QString SideLocation(Side side, const connection::LoginDetails& login) {
    QString word = SideWord(side);
    word[0] = word[0].toUpper();
    return QStringLiteral("%1 table, database %2 on server %3")
        .arg(word, login.database, ServerName(login));
}

bool SameDatabase(const connection::LoginDetails& first, const connection::LoginDetails& second) {
    return first.localConnection == second.localConnection && sameServer(first, second) &&
           sameText(first.database, second.database);
}

bool SameTable(const SideTable& first, const SideTable& second) {
    return SameDatabase(first.login, second.login) && first.table == second.table;
}

bool SameQuery(const SideTable& first, const SideTable& second) {
    return first.table.isQuery() && first.table.query == second.table.query &&
           SameDatabase(first.login, second.login);
}

QString SameQueryText() {
    return QStringLiteral(
        "Both sides run the same query on the same database: there is nothing to compare.");
}

SideNames NameSides(const SideTable& first, const SideTable& second) {
    if (SameDatabase(first.login, second.login)) {
        return {first.table.listed(), second.table.listed()};
    }
    const bool withServer = !sameServer(first.login, second.login) ||
                            first.login.localConnection != second.login.localConnection;
    return {qualified(first, withServer), qualified(second, withServer)};
}

QString AtSentenceStart(const QString& name) {
    if (!name.startsWith(QStringLiteral("the "))) return name;
    return QLatin1Char('T') + name.mid(1);
}

}  // namespace compare
