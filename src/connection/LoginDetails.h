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
// otherwise the server, a comma and the port. A value holding ";", "{" or "}"
// is written in braces with "}" doubled, so that it reaches the driver as
// typed instead of being cut or read as further attributes.
QString BuildConnectionString(const LoginDetails& details);

// ODBC's escaping of one attribute value (see above); other values unchanged.
QString EscapeConnectionValue(const QString& value);

}  // namespace connection
