#include "Packets.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace tds {

bool MessageReader::readExact(uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::recv(fd_, data + done, size - done, 0);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

ReadResult MessageReader::read(Message& out) {
    out.payload.clear();
    bool first = true;
    for (;;) {
        uint8_t header[kHeaderSize];
        if (!readExact(header, 1)) return first ? ReadResult::Eof : ReadResult::Malformed;
        if (!readExact(header + 1, kHeaderSize - 1)) return ReadResult::Malformed;
        uint8_t type = header[0];
        size_t length = (size_t(header[2]) << 8) | header[3];
        if (length < kHeaderSize) return ReadResult::Malformed;
        if (length > limits_.maxPacket) return ReadResult::TooLarge;
        if (first) {
            out.type = type;
        } else if (type != out.type) {
            return ReadResult::Malformed;
        }
        size_t body = length - kHeaderSize;
        if (out.payload.size() + body > limits_.maxMessage) return ReadResult::TooLarge;
        size_t old = out.payload.size();
        out.payload.resize(old + body);
        if (!readExact(out.payload.data() + old, body)) return ReadResult::Malformed;
        first = false;
        if (header[1] & kStatusEom) return ReadResult::Ok;
    }
}

SendLimit::SendLimit(uint64_t bytesPerSecond)
    : rate_(std::max<uint64_t>(bytesPerSecond, 1)), burst_(std::chrono::milliseconds(1)) {}

SendLimit::Clock::time_point SendLimit::reserve(size_t bytes) {
    const auto cost = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(bytes) / double(rate_)));
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    // An idle link saves up no more than the burst.
    due_ = std::max(due_, now);
    const Clock::time_point start = due_ - burst_;
    due_ += cost;
    return std::max(start, now);
}

void MessageWriter::waitForLimit(size_t bytes) {
    const SendLimit::Clock::time_point start = limit_->reserve(bytes);
    for (;;) {
        const auto left = start - SendLimit::Clock::now();
        if (left <= SendLimit::Clock::duration::zero()) return;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{time_t(ns / 1000000000), long(ns % 1000000000)};
        pollfd p{fd_, POLLIN, 0};
        // Once an ATTENTION or other bytes wait unread, poll would return at
        // once: then only sleep.
        if (attention_) {
            ::nanosleep(&wait, nullptr);
        } else if (::ppoll(&p, 1, &wait, nullptr) > 0) {
            peekForAttention();
            if (failed_) return;
            if (!attention_) ::nanosleep(&wait, nullptr);
        }
    }
}

void MessageWriter::setPacketSize(size_t size) {
    if (size < 512) size = 512;
    if (size > 32767) size = 32767;
    packetSize_ = size;
}

void MessageWriter::write(const uint8_t* data, size_t size) {
    buf_.write(data, size);
    flushIfFull();
}

void MessageWriter::endMessage() {
    sendPackets(true, kStatusEom);
    packetId_ = 1;
}

void MessageWriter::flushPartial() {
    if (!buf_.empty()) sendPackets(true, 0);
}

void MessageWriter::sendPackets(bool all, uint8_t lastStatus) {
    const size_t room = packetSize_ - kHeaderSize;
    size_t count = buf_.size() / room;
    size_t tail = buf_.size() % room;
    // With `all`, a partial packet at the end, or an empty one for an empty
    // message (or for the end of a message that filled its last packet).
    if (all && (tail > 0 || count == 0 || lastStatus)) ++count;
    if (count == 0) return;
    const size_t payload = all ? buf_.size() : (buf_.size() / room) * room;
    if (failed_) {
        buf_.consumeFront(payload);
        return;
    }
    constexpr size_t kMaxPackets = 64;  // per sendmsg, well under IOV_MAX
    uint8_t headers[kMaxPackets][kHeaderSize];
    iovec iov[2 * kMaxPackets];
    size_t offset = 0;
    // Under a limit, one packet at a time, each when the limit lets it go.
    const size_t perSend = limit_ ? 1 : kMaxPackets;
    for (size_t first = 0; first < count && !failed_; first += perSend) {
        const size_t n = std::min(perSend, count - first);
        if (limit_) waitForLimit(kHeaderSize + std::min(room, payload - offset));
        if (failed_) break;
        size_t iovs = 0, total = 0;
        for (size_t k = 0; k < n; ++k) {
            const size_t body = std::min(room, payload - offset);
            const bool last = all && first + k + 1 == count;
            const size_t length = kHeaderSize + body;
            uint8_t* h = headers[k];
            h[0] = type_;
            h[1] = last ? lastStatus : 0;
            h[2] = uint8_t(length >> 8);
            h[3] = uint8_t(length);
            h[4] = uint8_t(spid_ >> 8);
            h[5] = uint8_t(spid_);
            h[6] = packetId_++;
            h[7] = 0;
            iov[iovs++] = {h, kHeaderSize};
            if (body) iov[iovs++] = {buf_.data() + offset, body};
            offset += body;
            total += length;
        }
        // sendmsg may take part of it: move on past what was sent.
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = iovs;
        while (total > 0) {
            ssize_t sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) {
                failed_ = true;
                break;
            }
            total -= size_t(sent);
            size_t left = size_t(sent);
            while (msg.msg_iovlen > 0 && left >= msg.msg_iov[0].iov_len) {
                left -= msg.msg_iov[0].iov_len;
                ++msg.msg_iov;
                --msg.msg_iovlen;
            }
            if (left > 0) {
                msg.msg_iov[0].iov_base = static_cast<uint8_t*>(msg.msg_iov[0].iov_base) + left;
                msg.msg_iov[0].iov_len -= left;
            }
        }
    }
    buf_.consumeFront(payload);
    if (lastStatus != kStatusEom && !failed_) peekForAttention();
}

void MessageWriter::peekForAttention() {
    if (attention_) return;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    uint8_t header[kHeaderSize];
    ssize_t n = ::recv(fd_, header, sizeof header, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) {
        failed_ = true;  // the client is gone; stop producing rows for nobody
    } else if (n > 0 && header[0] == kAttention) {
        attention_ = true;
    }
}

}  // namespace tds
