#pragma once

// Loopback stand-ins for servers that misbehave, for the data layer's
// end-to-end tests: a TCP listener that never answers or hangs up at once,
// and a SQL Server Browser that names the port of an instance.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace data_e2e {

inline int bindLoopback(int type, int port) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        throw std::runtime_error("cannot bind 127.0.0.1:" + std::to_string(port) + ": " + why);
    }
    return fd;
}

inline int boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A port on which nothing listens (bound once, then given back).
inline int closedPort() {
    const int fd = bindLoopback(SOCK_STREAM, 0);
    const int port = boundPort(fd);
    ::close(fd);
    return port;
}

// Accepts TCP connections on 127.0.0.1 and counts them; Silent keeps them
// open without a word, HangUp closes each one at once.
class Listener {
public:
    enum Mode { Silent, HangUp };
    explicit Listener(Mode mode, int port = 0) : mode_(mode), fd_(bindLoopback(SOCK_STREAM, port)) {
        ::listen(fd_, 16);
        port_ = boundPort(fd_);
        if (::pipe(stop_) != 0) throw std::runtime_error("pipe failed");
        thread_ = std::thread([this] { run(); });
    }
    ~Listener() {
        const char x = 0;
        (void)!::write(stop_[1], &x, 1);
        thread_.join();
        for (int c : held_) ::close(c);
        ::close(fd_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int port() const { return port_; }
    int accepted() const { return accepted_; }

private:
    void run() {
        for (;;) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[1].revents) return;
            if (!(p[0].revents & POLLIN)) continue;
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            ++accepted_;
            if (mode_ == HangUp) {
                ::close(c);
            } else {
                held_.push_back(c);
            }
        }
    }

    Mode mode_;
    int fd_;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::atomic<int> accepted_{0};
    std::vector<int> held_;
    std::thread thread_;
};

// Answers SQL Server Browser requests for one instance on UDP 127.0.0.1:1434.
class BrowserResponder {
public:
    BrowserResponder(std::string instance, int tcpPort)
        : instance_(std::move(instance)), tcpPort_(tcpPort), fd_(bindLoopback(SOCK_DGRAM, 1434)) {
        if (::pipe(stop_) != 0) throw std::runtime_error("pipe failed");
        thread_ = std::thread([this] { run(); });
    }
    ~BrowserResponder() {
        const char x = 0;
        (void)!::write(stop_[1], &x, 1);
        thread_.join();
        ::close(fd_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    BrowserResponder(const BrowserResponder&) = delete;
    BrowserResponder& operator=(const BrowserResponder&) = delete;

    int requests() const { return requests_; }

private:
    void run() {
        for (;;) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[1].revents) return;
            if (!(p[0].revents & POLLIN)) continue;
            char buf[512];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n =
                ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 1 || buf[0] != 0x04) continue;  // CLNT_UCAST_INST
            ++requests_;
            const std::string body = "ServerName;DORVANTIS;InstanceName;" + instance_ +
                                     ";IsClustered;No;Version;16.0.1000.6;tcp;" +
                                     std::to_string(tcpPort_) + ";;";
            std::string reply(3, '\0');
            reply[0] = 0x05;  // SVR_RESP
            reply[1] = static_cast<char>(body.size() & 0xFF);
            reply[2] = static_cast<char>(body.size() >> 8);
            reply += body;
            ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

    std::string instance_;
    int tcpPort_;
    int fd_;
    int stop_[2] = {-1, -1};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

}  // namespace data_e2e
