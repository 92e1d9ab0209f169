// The server's packet reassembly over a real socket, as a client's byte stream
// reaches it: whole messages of one type each, or the end of the connection;
// never more payload than was sent. Each message then goes to its parser.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Packets.h"
#include "TdsDispatch.h"

namespace {

// One write must fit the socket's buffer (no second thread to drain it).
constexpr size_t kMaxInput = 64 * 1024;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tds_framing_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return -1;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) fail("socketpair");
    int sndbuf = 4 * kMaxInput;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::write(fds[1], data + sent, size - sent);
        if (n <= 0) fail("write to the socket pair");
        sent += size_t(n);
    }
    ::shutdown(fds[1], SHUT_WR);

    tds::MessageReader reader(fds[0]);
    size_t payloadBytes = 0;
    for (;;) {
        tds::Message m;
        const tds::ReadResult rr = reader.read(m);
        if (rr != tds::ReadResult::Ok) break;
        // Every packet has an 8-byte header: the payloads cannot add up to more.
        payloadBytes += m.payload.size() + tds::kHeaderSize;
        if (payloadBytes > size) fail("more payload than bytes sent");
        fuzz::dispatchMessage(m.type, m.payload);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
