#pragma once

// Loopback stand-ins for servers that misbehave, for the data layer's
// end-to-end tests: a TCP listener that never answers or hangs up at once,
// a SQL Server Browser that names the port of an instance, and a relay that
// records what a client sends a server.

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

// Passes TCP connections on 127.0.0.1 through to a server's port, and keeps
// the text of every SQL batch a client sends (TDS packet type 1: its
// ALL_HEADERS, then UTF-16LE text), whatever the program meant to send.
class BatchRecorder {
public:
    explicit BatchRecorder(int serverPort)
        : serverPort_(serverPort), fd_(bindLoopback(SOCK_STREAM, 0)) {
        ::listen(fd_, 16);
        port_ = boundPort(fd_);
        if (::pipe(stop_) != 0) throw std::runtime_error("pipe failed");
        accepter_ = std::thread([this] { run(); });
    }
    ~BatchRecorder() {
        const char x = 0;
        (void)!::write(stop_[1], &x, 1);
        accepter_.join();
        for (std::thread& t : pumps_) t.join();
        ::close(fd_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    BatchRecorder(const BatchRecorder&) = delete;
    BatchRecorder& operator=(const BatchRecorder&) = delete;

    int port() const { return port_; }
    std::vector<std::u16string> batches() const {
        std::lock_guard lock(mutex_);
        return batches_;
    }

private:
    void run() {
        for (;;) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[1].revents) return;
            if (!(p[0].revents & POLLIN)) continue;
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(serverPort_));
            if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                if (server >= 0) ::close(server);
                ::close(client);
                continue;
            }
            pumps_.emplace_back([this, client, server] { pump(client, server); });
        }
    }

    static bool sendAll(int fd, const char* data, ssize_t n) {
        while (n > 0) {
            const ssize_t sent = ::send(fd, data, static_cast<size_t>(n), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            data += sent;
            n -= sent;
        }
        return true;
    }

    void pump(int client, int server) {
        std::string packets;  // from the client, not yet read
        std::string batch;    // a batch's payload so far
        char buffer[8192];
        for (;;) {
            pollfd p[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(p, 3, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (p[2].revents) break;
            if (p[0].revents) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0 || !sendAll(server, buffer, n)) break;
                packets.append(buffer, static_cast<size_t>(n));
                record(packets, batch);
            }
            if (p[1].revents) {
                const ssize_t n = ::read(server, buffer, sizeof buffer);
                if (n <= 0 || !sendAll(client, buffer, n)) break;
            }
        }
        ::close(client);
        ::close(server);
    }

    // Takes the whole packets off `packets`; a batch's last one (status
    // bit 0x01) completes it.
    void record(std::string& packets, std::string& batch) {
        for (;;) {
            if (packets.size() < 8) return;
            const std::size_t length =
                static_cast<std::size_t>((static_cast<unsigned char>(packets[2]) << 8) |
                                         static_cast<unsigned char>(packets[3]));
            if (length < 8 || packets.size() < length) return;
            const bool sqlBatch = packets[0] == 0x01;
            const bool last = (packets[1] & 0x01) != 0;
            if (sqlBatch) batch.append(packets, 8, length - 8);
            packets.erase(0, length);
            if (!sqlBatch || !last) continue;
            std::size_t headers = 0;
            if (batch.size() >= 4) {
                for (int k = 3; k >= 0; --k)
                    headers = (headers << 8) |
                              static_cast<unsigned char>(batch[static_cast<std::size_t>(k)]);
            }
            if (headers > batch.size()) headers = 0;
            std::u16string text;
            for (std::size_t k = headers; k + 1 < batch.size(); k += 2) {
                text += static_cast<char16_t>(static_cast<unsigned char>(batch[k]) |
                                              (static_cast<unsigned char>(batch[k + 1]) << 8));
            }
            batch.clear();
            std::lock_guard lock(mutex_);
            batches_.push_back(std::move(text));
        }
    }

    int serverPort_;
    int fd_;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::thread accepter_;
    std::vector<std::thread> pumps_;
    mutable std::mutex mutex_;
    std::vector<std::u16string> batches_;
};

}  // namespace data_e2e
