#include "Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tds {

Server::Server(ServerConfig config, std::unique_ptr<Catalog> catalog)
    : config_(std::move(config)), catalog_(std::move(catalog)) {
    link_.mode = EncryptionMode::None;
    link_.delayMs = config_.delayMs;
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

Server::~Server() {
    reap(true);
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void Server::setEncryption(EncryptionMode mode, std::shared_ptr<const TlsIdentity> identity) {
    identity_ = std::move(identity);
    link_.mode = identity_ ? mode : EncryptionMode::None;
    link_.identity = identity_.get();
}

bool Server::listen(uint16_t port, std::string& error) {
    if (wake_[0] < 0) {
        error = "cannot create a pipe";
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " +
                std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

void Server::stop() {
    if (wake_[1] >= 0) {
        char c = 1;
        ssize_t ignored = ::write(wake_[1], &c, 1);
        (void)ignored;
    }
}

void Server::reap(bool all) {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (all && !it->done) ::shutdown(it->fd, SHUT_RDWR);
        if (all || it->done) {
            it->thread.join();
            ::close(it->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int n = ::poll(fds, 2, 250);
        reap(false);
        if (n < 0 && errno != EINTR) break;
        if (fds[1].revents) break;
        if (n <= 0 || !(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        if (connections_.size() >= kMaxConnections) {
            std::fprintf(stderr, "tds-server: too many connections, refusing one\n");
            ::close(fd);
            continue;
        }
        uint16_t spid = nextSpid_++;
        if (nextSpid_ > 32000) nextSpid_ = 51;
        Connection& c = connections_.emplace_back();
        c.fd = fd;
        c.thread = std::thread([this, &c, spid] {
            // The session reads the plain stream from the login on; the
            // PRELOGIN and any TLS are the link's.
            const auto serve = [&](int fd) {
                try {
                    Session session(fd, spid, config_, *catalog_);
                    session.run();
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "tds-server: spid %u: %s\n", spid, e.what());
                }
            };
            try {
                serveLink(c.fd, spid, link_, serve);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "tds-server: spid %u: %s\n", spid, e.what());
            }
            ::shutdown(c.fd, SHUT_RDWR);
            c.done = true;
        });
    }
    reap(true);
}

}  // namespace tds
