// What an end-to-end test needs to reach the TDS test server that the CTest
// fixture `tds_server` starts (see tests/e2e/CMakeLists.txt).
//
// The fixture's server has the logins tester/secret and semi/"pa;ss}word" and,
// for the driver's value grammar, "{lead;er}"/"{pa}ss" and tail/" a=b; c}}",
// the databases testdb (default, empty at start) and otherdb. Every test
// creates its own uniquely named tables (tdsUniqueName) and may leave them.
#pragma once

#include <unistd.h>

#include <QString>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "ConnectionString.h"

namespace tdstest {

inline constexpr const char* kUser = "tester";
inline constexpr const char* kPassword = "secret";
inline constexpr const char* kSemiUser = "semi";
inline constexpr const char* kSemiPassword = "pa;ss}word";
inline constexpr const char* kDatabase = "testdb";
inline constexpr const char* kOtherDatabase = "otherdb";

// The server's port, from the file named by DORVANTIS_TDS_PORT_FILE (set by
// dorvantis_add_e2e_test). Throws when the variable or the file is missing.
inline int tdsTestPort() {
    const char* path = std::getenv("DORVANTIS_TDS_PORT_FILE");
    if (!path || !*path) {
        throw std::runtime_error(
            "DORVANTIS_TDS_PORT_FILE is not set: run end-to-end tests through CTest");
    }
    std::ifstream in(path);
    int port = 0;
    if (!(in >> port) || port <= 0 || port > 65535) {
        throw std::runtime_error(std::string("no TDS test server port in ") + path +
                                 " (did the tds_server_start fixture fail?)");
    }
    return port;
}

// A connection string value as the program writes it (data::QuoteConnectionValue);
// throws data::DataError for one the driver cannot read back.
inline std::string odbcValue(const std::string& value) {
    return data::QuoteConnectionValue(QString::fromStdString(value)).toStdString();
}

// Driver={SQL Server};Server=127.0.0.1,PORT;Database=testdb;Uid=tester;Pwd=secret;
inline std::string tdsConnectionString(const std::string& database = kDatabase,
                                       const std::string& user = kUser,
                                       const std::string& password = kPassword) {
    return "Driver={SQL Server};Server=127.0.0.1," + std::to_string(tdsTestPort()) +
           ";Database=" + odbcValue(database) + ";Uid=" + odbcValue(user) +
           ";Pwd=" + odbcValue(password) + ";";
}

// A table name no other test (or earlier run against the same server) uses.
inline std::string tdsUniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

}  // namespace tdstest
