#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace data {

// The grammar of an ODBC connection string as FreeTDS 1.3 reads it ("Key=value;"
// pairs; unixODBC only looks for the driver and passes the string on):
// - a value not starting with "{" runs to the next ";" and is taken as it is,
//   blanks and "=" included;
// - a value starting with "{" runs to the first "}" followed by ";", which ends
//   it. Every other "}" belongs to the value: "}}" is not undone, so a brace
//   inside stays single. Without such a "};" it runs to the end of the string,
//   a last "}" included.
// So no value holding "};" (nor a NUL, where the driver's C strings end) can be
// passed at all.

// One value written so that FreeTDS reads it back unchanged: as it is, or in
// braces when it holds ";" or starts with "{". The caller ends the pair with
// ";". Throws DataError for a value that cannot be passed, rather than build a
// string that logs in with something else.
QString QuoteConnectionValue(QStringView value);

// Reads one key of a connection string as FreeTDS does: keys compared without
// case (ASCII), blanks before a key skipped, blanks after it part of the name;
// the last occurrence wins, except for Server, Servername and DSN, where the
// driver keeps the first. Nothing when the key is absent.
std::optional<QString> connectionStringValue(QStringView connectionString, QStringView key);

// True when the string names a server by host alone (no ",port", no
// "\instance", no Port= key, no DSN): FreeTDS would then try port 0, where
// SQL Server's own clients use the default port.
bool needsDefaultPort(QStringView connectionString);

}  // namespace data
