#include "Packets.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

void MessageWriter::setPacketSize(size_t size) {
    if (size < 512) size = 512;
    if (size > 32767) size = 32767;
    packetSize_ = size;
}

void MessageWriter::write(const uint8_t* data, size_t size) {
    const size_t room = packetSize_ - kHeaderSize;
    while (size > 0) {
        size_t n = std::min(size, room - buf_.size());
        buf_.insert(buf_.end(), data, data + n);
        data += n;
        size -= n;
        if (buf_.size() == room) sendPacket(false);
    }
}

void MessageWriter::endMessage() {
    sendPacket(true);
    packetId_ = 1;
}

void MessageWriter::flushPartial() {
    if (!buf_.empty()) sendPacket(false);
}

void MessageWriter::sendPacket(bool last) {
    std::vector<uint8_t> packet;
    packet.reserve(kHeaderSize + buf_.size());
    size_t length = kHeaderSize + buf_.size();
    packet.push_back(kReply);
    packet.push_back(last ? kStatusEom : 0);
    packet.push_back(uint8_t(length >> 8));
    packet.push_back(uint8_t(length));
    packet.push_back(uint8_t(spid_ >> 8));
    packet.push_back(uint8_t(spid_));
    packet.push_back(packetId_++);
    packet.push_back(0);
    packet.insert(packet.end(), buf_.begin(), buf_.end());
    buf_.clear();
    if (failed_) return;
    size_t done = 0;
    while (done < packet.size()) {
        ssize_t n = ::send(fd_, packet.data() + done, packet.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            failed_ = true;
            return;
        }
    }
    if (!last) peekForAttention();
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
