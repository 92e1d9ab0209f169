#pragma once

// Loopback stand-ins for servers that misbehave, for the data layer's
// end-to-end tests: a TCP listener that never answers or hangs up at once,
// a SQL Server Browser that names the port of an instance, and a relay that
// keeps what crosses the link (and the SQL batches a client sent through it).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
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

// Passes every connection on to a port of 127.0.0.1 and keeps every byte
// that crosses, as one who can read the link would see it: each connection's
// each direction whole, so that nothing sent is split by what another sent.
class Relay {
public:
    explicit Relay(int targetPort) : target_(targetPort), fd_(bindLoopback(SOCK_STREAM, 0)) {
        ::listen(fd_, 16);
        port_ = boundPort(fd_);
        if (::pipe(stop_) != 0) throw std::runtime_error("pipe failed");
        thread_ = std::thread([this] { run(); });
    }
    ~Relay() {
        const char x = 0;
        (void)!::write(stop_[1], &x, 1);
        thread_.join();
        for (const Link& l : links_) {
            ::close(l.client);
            ::close(l.server);
        }
        ::close(fd_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int port() const { return port_; }
    // What each connection's client sent, in the order they connected.
    std::vector<std::string> fromClients() const {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const Link& l : links_) out.push_back(l.fromClient);
        return out;
    }
    std::string seen() const {
        const std::lock_guard lock(mutex_);
        std::string all;
        for (const Link& l : links_) all += l.fromClient + '\0' + l.fromServer + '\0';
        return all;
    }

private:
    struct Link {
        int client, server;
        bool open = true;
        std::string fromClient, fromServer;
    };
    void run() {
        for (;;) {
            std::vector<pollfd> p = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            std::vector<Link*> polled;
            for (Link& l : links_) {
                if (!l.open) continue;
                p.push_back({l.client, POLLIN, 0});
                p.push_back({l.server, POLLIN, 0});
                polled.push_back(&l);
            }
            if (::poll(p.data(), p.size(), -1) < 0 && errno != EINTR) return;
            if (p[1].revents) return;
            for (std::size_t i = 0; i < polled.size(); ++i) {
                Link& l = *polled[i];
                const bool fine =
                    (!p[2 + 2 * i].revents || pass(l.client, l.server, l.fromClient)) &&
                    (!p[3 + 2 * i].revents || pass(l.server, l.client, l.fromServer));
                if (!fine) {
                    // Either side gone: so is the other.
                    ::shutdown(l.client, SHUT_RDWR);
                    ::shutdown(l.server, SHUT_RDWR);
                    l.open = false;
                }
            }
            if (p[0].revents & POLLIN) accept();
        }
    }
    void accept() {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0) return;
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(target_));
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(client);
            if (server >= 0) ::close(server);
            return;
        }
        const std::lock_guard lock(mutex_);
        links_.push_back({client, server, true, {}, {}});
    }
    bool pass(int from, int to, std::string& seen) {
        char buf[16384];
        const ssize_t n = ::recv(from, buf, sizeof buf, 0);
        if (n <= 0) return false;
        {
            const std::lock_guard lock(mutex_);
            seen.append(buf, static_cast<std::size_t>(n));
        }
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t k =
                ::send(to, buf + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
            if (k <= 0) return false;
            sent += k;
        }
        return true;
    }

    int target_;
    int fd_;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::vector<Link> links_;   // closed at the end
    mutable std::mutex mutex_;  // over links_, which seen() reads
    std::thread thread_;
};

// The text of every SQL batch in what a client sent (TDS packet type 1: its
// ALL_HEADERS, then UTF-16LE text), whatever the program meant to send. The
// TLS records of a login encrypted alone are passed over.
inline std::vector<std::u16string> SqlBatches(const std::string& fromClient) {
    std::vector<std::u16string> batches;
    std::string batch;  // a batch's payload so far
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(fromClient[i]); };
    for (std::size_t at = 0; at + 8 <= fromClient.size();) {
        // A TLS record (types 0x14 to 0x17, version 3.x): 5 bytes and its length.
        if (byte(at) >= 0x14 && byte(at) <= 0x17 && byte(at + 1) == 0x03) {
            at += 5 + ((std::size_t(byte(at + 3)) << 8) | byte(at + 4));
            continue;
        }
        const std::size_t length = (std::size_t(byte(at + 2)) << 8) | byte(at + 3);
        if (length < 8 || at + length > fromClient.size()) break;
        const bool sqlBatch = byte(at) == 0x01;
        const bool last = (byte(at + 1) & 0x01) != 0;
        if (sqlBatch) batch.append(fromClient, at + 8, length - 8);
        at += length;
        if (!sqlBatch || !last) continue;
        std::size_t headers = 0;
        if (batch.size() >= 4) {
            for (int k = 3; k >= 0; --k)
                headers =
                    (headers << 8) | static_cast<unsigned char>(batch[static_cast<std::size_t>(k)]);
        }
        if (headers > batch.size()) headers = 0;
        std::u16string text;
        for (std::size_t k = headers; k + 1 < batch.size(); k += 2) {
            text += static_cast<char16_t>(static_cast<unsigned char>(batch[k]) |
                                          (static_cast<unsigned char>(batch[k + 1]) << 8));
        }
        batch.clear();
        batches.push_back(std::move(text));
    }
    return batches;
}

}  // namespace data_e2e
