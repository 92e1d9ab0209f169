// The listener: accepts connections on 127.0.0.1 and runs a session thread
// for each, until stop() is called (from a signal handler, too).
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Session.h"
#include "Store.h"
#include "Tls.h"

namespace tds {

class Server {
public:
    Server(ServerConfig config, std::unique_ptr<Catalog> catalog);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // What the PRELOGIN offers (before listen). The identity is needed unless
    // the mode is None.
    void setEncryption(EncryptionMode mode, std::shared_ptr<const TlsIdentity> identity);
    // Binds 127.0.0.1:port (0 = any free port). False and a message on failure.
    bool listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }
    // Serves until stop(); then ends every connection and waits for its thread.
    void run();
    // Async-signal-safe.
    void stop();

    static constexpr size_t kMaxConnections = 64;

private:
    struct Connection {
        int fd;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void reap(bool all);

    ServerConfig config_;
    LinkConfig link_;
    std::shared_ptr<const TlsIdentity> identity_;
    std::unique_ptr<Catalog> catalog_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    uint16_t nextSpid_ = 51;
    std::mutex mutex_;
    std::list<Connection> connections_;
};

}  // namespace tds
