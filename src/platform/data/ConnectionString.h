#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace data {

// Reads one key of an ODBC connection string ("Key=value;" pairs, a value in
// braces may hold ";" and doubles "}" inside), the way FreeTDS reads it: keys
// case-insensitive, leading blanks of a key skipped, the last occurrence wins.
// Nothing when the key is absent or the string cannot be read.
std::optional<QString> connectionStringValue(QStringView connectionString, QStringView key);

// True when the string names a server by host alone (no ",port", no
// "\instance", no Port= key, no DSN): FreeTDS would then try port 0, where
// SQL Server's own clients use the default port.
bool needsDefaultPort(QStringView connectionString);

}  // namespace data
