#pragma once

// The TDS test server of the CTest fixture, seen through the data layer.

#include <QString>
#include <memory>

#include "DataAccess.h"
#include "TdsTestServer.h"

namespace data_e2e {

inline QString connectionString(const std::string& user = tdstest::kUser,
                                const std::string& password = tdstest::kPassword,
                                const std::string& database = tdstest::kDatabase) {
    return QString::fromStdString(tdstest::tdsConnectionString(database, user, password));
}

inline std::unique_ptr<data::Connection> openConnection() {
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(connectionString());
    return c;
}

inline QString uniqueName(const char* stem) {
    return QString::fromStdString(tdstest::tdsUniqueName(stem));
}

}  // namespace data_e2e
