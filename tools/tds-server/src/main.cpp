// tds-server: a TDS 7.4 test and demo server over SQLite, on 127.0.0.1.
#include <sqlite3.h>

#include <csignal>
#include <cstdio>

#include "Options.h"
#include "Server.h"

namespace {
tds::Server* g_server = nullptr;
void onSignal(int) {
    if (g_server) g_server->stop();
}
}  // namespace

int main(int argc, char** argv) {
    tds::Options options;
    std::string error;
    if (!tds::parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tds-server: %s\n%s", error.c_str(), tds::kUsage);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // No memory statistics: they take one process-wide mutex around every
    // SQLite allocation, which sessions reading at once would share.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    std::unique_ptr<tds::Catalog> catalog = tds::Catalog::create(options.databases, error);
    if (!catalog) {
        std::fprintf(stderr, "tds-server: %s\n", error.c_str());
        return 1;
    }
    tds::Server server(options.config, std::move(catalog));
    if (options.encryption != tds::EncryptionMode::None) {
        std::shared_ptr<const tds::TlsIdentity> identity = tds::TlsIdentity::create(error);
        if (!identity) {
            std::fprintf(stderr, "tds-server: %s\n", error.c_str());
            return 1;
        }
        server.setEncryption(options.encryption, std::move(identity));
    }
    if (!server.listen(options.port, error)) {
        std::fprintf(stderr, "tds-server: %s\n", error.c_str());
        return 1;
    }
    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::printf("PORT %u\n", unsigned(server.port()));
    std::fflush(stdout);
    server.run();
    g_server = nullptr;
    return 0;
}
