#pragma once

#include <QString>

namespace connection {

// The six login values, as the login window's fields hold them.
struct LoginDetails {
    QString server;
    QString userName;
    QString password;
    QString database;
    QString port;
    bool localConnection = false;
};

// The one ODBC connection string of the program. Local: the server alone;
// otherwise the server, a comma and the port. Values go in as typed; one that
// the driver would cut at a ";" or read as a braced value is braced (see below).
QString BuildConnectionString(const LoginDetails& details);

// One attribute value as the FreeTDS driver reads it back unchanged: a value
// holding ";" or starting with "{" goes in braces. FreeTDS ends a braced value
// at the first "}" followed by ";" and does not undo a doubled "}", so braces
// inside stay single; only a value holding "};" cannot be passed at all.
// Every other value is inserted unchanged.
QString EscapeConnectionValue(const QString& value);

}  // namespace connection
