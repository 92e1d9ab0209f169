// The one connection string the program builds, read back with the grammar
// the driver uses: every login value the builder accepts comes back unchanged
// under its key (in any letter case); the builder refuses a value only when it
// holds "};" or a NUL, which no string can carry. Values are arbitrary UTF-16.
#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <cstdio>
#include <cstdlib>

#include "ConnectionString.h"
#include "DataError.h"
#include "LoginDetails.h"

namespace {

[[noreturn]] void fail(const char* what, const QString& cs) {
    std::fprintf(stderr, "connection_string_fuzz: %s in \"%s\"\n", what, qPrintable(cs));
    std::abort();
}

QString units(FuzzedDataProvider& in) {
    const std::string raw = in.ConsumeRandomLengthString(64);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.data()),
                              qsizetype(raw.size() / 2));
}

bool unpassable(const QString& v) { return v.contains(u"};") || v.contains(QChar(u'\0')); }

// The key as some user might type it: letters in random case.
QString anyCase(FuzzedDataProvider& in, QString key) {
    for (QChar& c : key) c = in.ConsumeBool() ? c.toUpper() : c.toLower();
    return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    connection::LoginDetails d;
    d.localConnection = in.ConsumeBool();
    d.server = units(in);
    d.port = units(in);
    d.userName = units(in);
    d.password = units(in);
    d.database = units(in);
    const QString server = d.localConnection ? d.server : d.server + u',' + d.port;

    QString cs;
    try {
        cs = connection::BuildConnectionString(d);
    } catch (const data::DataError&) {
        if (!unpassable(server) && !unpassable(d.userName) && !unpassable(d.password) &&
            !unpassable(d.database))
            fail("values that can be passed were refused", server);
        return 0;
    }
    const struct {
        const char* key;
        QString value;
    } expected[] = {{"Driver", QStringLiteral("SQL Server")},
                    {"Server", server},
                    {"Database", d.database},
                    {"Uid", d.userName},
                    {"Pwd", d.password}};
    for (const auto& [key, value] : expected) {
        const std::optional<QString> read =
            data::connectionStringValue(cs, anyCase(in, QString::fromLatin1(key)));
        if (!read) fail(key, cs);
        if (*read != value) fail(key, cs);
    }
    // No key a value could smuggle in: the port default depends on the server alone.
    const bool hostAlone = !server.isEmpty() && !server.contains(u',') && !server.contains(u'\\');
    if (data::needsDefaultPort(cs) != hostAlone) fail("wrong port default", cs);
    return 0;
}
