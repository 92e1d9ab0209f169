#include "ConnectionString.h"

namespace data {

std::optional<QString> connectionStringValue(QStringView cs, QStringView key) {
    std::optional<QString> found;
    qsizetype p = 0;
    const qsizetype n = cs.size();
    while (p < n) {
        while (p < n && cs[p] == u';') ++p;
        const qsizetype eq = cs.indexOf(u'=', p);
        if (eq < 0) break;
        while (p < eq && cs[p] == u' ') ++p;
        const QStringView name = cs.mid(p, eq - p);
        p = eq + 1;
        QString value;
        if (p < n && cs[p] == u'{') {
            ++p;
            bool closed = false;
            while (p < n) {
                if (cs[p] == u'}') {
                    if (p + 1 < n && cs[p + 1] == u'}') {
                        value += u'}';
                        p += 2;
                        continue;
                    }
                    ++p;  // past the closing brace
                    closed = true;
                    break;
                }
                value += cs[p++];
            }
            if (!closed) return std::nullopt;
            if (p < n && cs[p] != u';') return std::nullopt;
        } else {
            qsizetype end = cs.indexOf(u';', p);
            if (end < 0) end = n;
            value = cs.mid(p, end - p).toString();
            p = end;
        }
        if (name.compare(key, Qt::CaseInsensitive) == 0) found = value;
        if (p < n) ++p;  // the ';'
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
