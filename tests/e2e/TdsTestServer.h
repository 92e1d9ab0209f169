// What an end-to-end test needs to reach the TDS test server that the CTest
// fixture `tds_server` starts (see tests/e2e/CMakeLists.txt).
//
// The fixture's server has the logins tester/secret and semi/"pa;ss}word" and,
// for the driver's value grammar, "{lead;er}"/"{pa}ss" and tail/" a=b; c}}",
// the databases testdb (default, empty at start) and otherdb. Every test
// creates its own uniquely named tables (tdsUniqueName) and may leave them.
// A test that needs a server started with other options runs its own
// (PrivateServer).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ConnectionString.h"

extern "C" char** environ;

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
inline std::string tdsConnectionStringAt(int port, const std::string& database = kDatabase,
                                         const std::string& user = kUser,
                                         const std::string& password = kPassword) {
    return "Driver={SQL Server};Server=127.0.0.1," + std::to_string(port) +
           ";Database=" + odbcValue(database) + ";Uid=" + odbcValue(user) +
           ";Pwd=" + odbcValue(password) + ";";
}

// The same for the fixture's server.
inline std::string tdsConnectionString(const std::string& database = kDatabase,
                                       const std::string& user = kUser,
                                       const std::string& password = kPassword) {
    return tdsConnectionStringAt(tdsTestPort(), database, user, password);
}

// A table name no other test (or earlier run against the same server) uses.
inline std::string tdsUniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

#ifdef DORVANTIS_TDS_SERVER
// A TDS test server of a test's own, for options that would disturb the
// shared one (--delay-ms, --drop-after-rows, --collation). Logins as the
// fixture's testdb/tester/secret. Needs the server binary's path in
// DORVANTIS_TDS_SERVER.
class PrivateServer {
public:
    // log: a file for the server's standard error (its notes on held
    // requests); none leaves it with the test's.
    explicit PrivateServer(const std::vector<std::string>& options, std::string log = {})
        : log_(std::move(log)) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> args = {DORVANTIS_TDS_SERVER, "--port",     "0",     "--user",
                                         "tester:secret",      "--database", "testdb"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (!log_.empty()) {
            posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, log_.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        const int rc = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        std::string line;
        char ch;
        while (rc == 0 && ::read(out[0], &ch, 1) == 1 && ch != '\n') line += ch;
        ::close(out[0]);
        if (rc != 0 || line.rfind("PORT ", 0) != 0) {
            if (rc == 0) stop();
            throw std::runtime_error("the private TDS server did not start: " + line);
        }
        port_ = std::stoi(line.substr(5));
    }
    ~PrivateServer() { stop(); }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    int port() const { return port_; }
    // Whether the server holds a request (--stall-query) right now or did;
    // needs a log.
    bool heldARequest() const {
        std::FILE* f = std::fopen(log_.c_str(), "r");
        if (f == nullptr) return false;
        std::string text;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            text.append(buffer, n);
        std::fclose(f);
        return text.find("holding a request") != std::string::npos;
    }
    pid_t pid() const { return pid_; }
    std::string connectionString() const { return tdsConnectionStringAt(port_); }

    // Ends the server with SIGTERM and returns its wait status (the status of
    // the first stop when called again). SIGCONT first: a server the test
    // stopped with SIGSTOP would otherwise never act on SIGTERM.
    int stop() {
        if (pid_ <= 0) return status_;
        ::kill(pid_, SIGCONT);
        ::kill(pid_, SIGTERM);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        pid_ = 0;
        return status_;
    }

private:
    std::string log_;
    pid_t pid_ = 0;
    int port_ = 0;
    int status_ = 0;
};
#endif

}  // namespace tdstest
