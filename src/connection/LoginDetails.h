#pragma once

#include <QString>

namespace connection {

// The login values, as the login window's fields hold them.
struct LoginDetails {
    QString server;
    QString userName;
    QString password;
    QString database;
    QString port;
    bool localConnection = false;
    // The whole connection in TLS, or no connection. Otherwise the driver
    // encrypts the login alone, and all of it only when the server insists.
    bool encrypt = false;
};

// The one ODBC connection string of the program. Local: the server alone;
// otherwise the server, a comma and the port. Encrypted: FreeTDS's
// "Encryption=require" at the end. Values go in as typed, each
// through data::QuoteConnectionValue: braced when it holds ";" or starts with
// "{", braces inside left single, since FreeTDS undoes no "}}". A value holding
// "};" (or a NUL) cannot be passed at all and throws data::DataError.
QString BuildConnectionString(const LoginDetails& details);

}  // namespace connection
