#include "ConnectionString.h"

#include "DataError.h"

namespace data {

namespace {

// The driver compares keys with strcasecmp: ASCII letters only.
bool sameKey(QStringView name, QStringView key) {
    if (name.size() != key.size()) return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        char16_t a = name[i].unicode(), b = key[i].unicode();
        if (a >= u'A' && a <= u'Z') a = char16_t(a + (u'a' - u'A'));
        if (b >= u'A' && b <= u'Z') b = char16_t(b + (u'a' - u'A'));
        if (a != b) return false;
    }
    return true;
}

}  // namespace

QString QuoteConnectionValue(QStringView value) {
    if (value.contains(u"};") || value.contains(QChar(u'\0'))) {
        throw DataError(QStringLiteral(
            "A value holding \"};\" or a NUL cannot be passed in the connection string: the "
            "driver would end the value there and read the rest as further settings."));
    }
    if (!value.contains(u';') && !value.startsWith(u'{')) return value.toString();
    return QLatin1Char('{') + value.toString() + QLatin1Char('}');
}

std::optional<QString> connectionStringValue(QStringView cs, QStringView key) {
    const bool firstWins =
        sameKey(key, u"Server") || sameKey(key, u"Servername") || sameKey(key, u"DSN");
    std::optional<QString> found;
    const qsizetype n = cs.size();
    qsizetype p = 0;
    while (p < n && cs[p] != u'\0') {
        while (p < n && cs[p] == u';') ++p;
        const qsizetype eq = cs.indexOf(u'=', p);
        if (eq < 0) break;
        while (p < eq && cs[p] == u' ') ++p;
        const QStringView name = cs.mid(p, eq - p);
        qsizetype start = eq + 1;
        qsizetype end = -1;
        if (start < n && cs[start] == u'{') {
            end = cs.indexOf(u"};", ++start);
        } else {
            end = cs.indexOf(u';', start);
        }
        if (end < 0) end = n;
        if (sameKey(name, key) && !(firstWins && found)) {
            const QStringView value = cs.mid(start, end - start);
            const qsizetype nul = value.indexOf(QChar(u'\0'));  // where the C string ends
            found = (nul < 0 ? value : value.first(nul)).toString();
        }
        p = end;
        if (p >= n) break;
        if (cs[p] == u'}') ++p;  // a braced value's closing brace
        ++p;                     // the ';'
    }
    return found;
}

bool needsDefaultPort(QStringView cs) {
    for (QStringView other : {u"DSN", u"Servername", u"Port"}) {
        if (connectionStringValue(cs, other)) return false;
    }
    const std::optional<QString> server = connectionStringValue(cs, u"Server");
    if (!server || server->isEmpty()) return false;
    return !server->contains(u',') && !server->contains(u'\\');
}

}  // namespace data
