#pragma once

// Where the data layer's end-to-end tests find the TDS test server, and
// helpers shared by them.

#include <QString>
#include <atomic>
#include <cstdlib>

#include "DataAccess.h"

namespace data_e2e {

inline int serverPort() {
    const char* p = std::getenv("DORVANTIS_TDS_PORT");
    return p ? std::atoi(p) : 0;
}

inline QString connectionString(const QString& uid = QStringLiteral("tester"),
                                const QString& pwd = QStringLiteral("secret"),
                                const QString& database = QStringLiteral("testdb")) {
    return QStringLiteral("Driver={SQL Server};Server=127.0.0.1,%1;Database=%2;Uid=%3;Pwd=%4;")
        .arg(serverPort())
        .arg(database, uid, pwd);
}

inline std::unique_ptr<data::Connection> openConnection() {
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(connectionString());
    return c;
}

// A table name no other test uses.
inline QString uniqueName(const char* stem) {
    static std::atomic<int> n{0};
    return QStringLiteral("%1_%2_%3").arg(QLatin1String(stem)).arg(::getpid()).arg(++n);
}

}  // namespace data_e2e
