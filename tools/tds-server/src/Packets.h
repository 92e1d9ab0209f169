// TDS packet framing: whole request messages in, reply messages out, split
// into packets of the negotiated size as they are written.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Bytes.h"

namespace tds {

enum PacketType : uint8_t {
    kSqlBatch = 0x01,
    kPreTds7Login = 0x02,
    kRpc = 0x03,
    kReply = 0x04,
    kAttention = 0x06,
    kBulkLoad = 0x07,
    kTransactionManager = 0x0E,
    kLogin7 = 0x10,
    kSspi = 0x11,
    kPrelogin = 0x12,
};

constexpr size_t kHeaderSize = 8;
constexpr uint8_t kStatusEom = 0x01;

struct Limits {
    size_t maxPacket = 32767;             // largest packet TDS allows
    size_t maxMessage = 4 * 1024 * 1024;  // one request; bounds memory per connection
};

struct Message {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

enum class ReadResult { Ok, Eof, Malformed, TooLarge };

// A limit on what the server sends over all its connections together, as
// over a slow link: a token bucket that lets about a millisecond's worth
// through at once. Thread-safe.
class SendLimit {
public:
    using Clock = std::chrono::steady_clock;
    explicit SendLimit(uint64_t bytesPerSecond);
    // Takes `bytes` from the bucket: when they may leave (now or later).
    Clock::time_point reserve(size_t bytes);
    uint64_t bytesPerSecond() const { return rate_; }

private:
    const uint64_t rate_;
    const Clock::duration burst_;
    std::mutex mutex_;
    Clock::time_point due_{};  // when everything reserved so far has left
};

// Reassembles request messages from a socket. Not thread-safe: one per connection.
class MessageReader {
public:
    explicit MessageReader(int fd, Limits limits = {}) : fd_(fd), limits_(limits) {}
    ReadResult read(Message& out);

private:
    bool readExact(uint8_t* data, size_t size);
    int fd_;
    Limits limits_;
};

// Writes one reply message at a time. The payload collects in one buffer,
// which row encoders may append to directly (buffer()); complete packets leave
// in bursts of kBurstPackets, each burst with one sendmsg() that puts the
// packet headers around slices of the buffer, so a large result never sits in
// memory and costs few system calls.
class MessageWriter : public Sink {
public:
    static constexpr size_t kBurstPackets = 16;

    MessageWriter(int fd, uint16_t spid) : fd_(fd), spid_(spid) {}

    void setPacketSize(size_t size);
    // Replies are 0x04; the server's half of a TLS handshake goes in PRELOGIN packets.
    void setPacketType(uint8_t type) { type_ = type; }
    // Sends no faster than the limit allows (nullptr: as fast as it can).
    // While it waits it still sees an ATTENTION; with a limit, each full
    // packet leaves at once, so a cancel waits for little more than one.
    void setSendLimit(SendLimit* limit) { limit_ = limit; }
    size_t packetSize() const { return packetSize_; }
    void write(const uint8_t* data, size_t size) override;
    // The unsent payload of the current message. What is appended here leaves
    // at the next flushIfFull(), flushPartial() or endMessage(); until then it
    // may be taken back with truncate().
    GrowBuffer& buffer() { return buf_; }
    // Sends the complete packets once a burst of them is buffered.
    void flushIfFull() {
        if (buf_.size() >= (limit_ ? 1 : kBurstPackets) * (packetSize_ - kHeaderSize))
            sendPackets(false);
    }
    // Sends what is buffered as the last packet of the message.
    void endMessage();
    // Sends what is buffered as packets that are not the last one.
    void flushPartial();
    // A send failed or the peer closed: further output is discarded.
    bool failed() const { return failed_; }
    // The client sent an ATTENTION while this message was being written.
    bool attentionPending() const { return attention_; }
    void clearAttention() { attention_ = false; }

private:
    // Sends the buffered payload as packets: only the complete ones unless
    // `all`; with `all` the last one gets `lastStatus`.
    void sendPackets(bool all, uint8_t lastStatus = 0);
    void peekForAttention();
    // Until the limit lets `bytes` go, watching the socket for an ATTENTION.
    void waitForLimit(size_t bytes);

    int fd_;
    uint16_t spid_;
    size_t packetSize_ = 4096;
    uint8_t type_ = kReply;
    GrowBuffer buf_;
    uint8_t packetId_ = 1;
    bool failed_ = false;
    bool attention_ = false;
    SendLimit* limit_ = nullptr;
};

}  // namespace tds
