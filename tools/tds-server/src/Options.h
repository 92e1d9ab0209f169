// The command line (and the optional --config file with the same settings).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Login.h"
#include "Session.h"
#include "Store.h"

namespace tds {

struct Options {
    uint16_t port = 0;
    ServerConfig config;
    std::vector<DatabaseSource> databases;
    bool caseInsensitive = false;  // --collation ci, for every database
    EncryptionMode encryption = EncryptionMode::Offered;
    std::vector<std::string> snapshotDatabases;  // --snapshot-isolation
};

// False and a message on a bad or missing setting.
bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);
extern const char* const kUsage;

}  // namespace tds
