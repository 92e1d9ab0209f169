// Packet framing over a real socket pair: reassembly, limits, splitting.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Packets.h"

namespace {

using namespace tds;

class SocketPair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    void send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void closeClient() {
        close(fds_[1]);
        fds_[1] = -1;
    }
    std::vector<uint8_t> receiveAll() {
        closeServer();
        std::vector<uint8_t> out;
        uint8_t buf[4096];
        ssize_t n;
        while ((n = ::read(fds_[1], buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
        return out;
    }
    void closeServer() {
        close(fds_[0]);
        fds_[0] = -1;
    }
    int server() const { return fds_[0]; }
    int fds_[2] = {-1, -1};
};

std::vector<uint8_t> packet(uint8_t type, uint8_t status, const std::string& payload,
                            size_t lengthOverride = 0) {
    size_t length = lengthOverride ? lengthOverride : payload.size() + 8;
    std::vector<uint8_t> p = {type, status, uint8_t(length >> 8), uint8_t(length), 0, 0, 1, 0};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

TEST_F(SocketPair, ReassemblesAMessageFromSeveralPackets) {
    send(packet(kSqlBatch, 0, "hello "));
    send(packet(kSqlBatch, 0, ""));
    send(packet(kSqlBatch, kStatusEom, "world"));
    send(packet(kAttention, kStatusEom, ""));
    MessageReader reader(server());
    Message m;
    ASSERT_EQ(reader.read(m), ReadResult::Ok);
    EXPECT_EQ(m.type, kSqlBatch);
    EXPECT_EQ(std::string(m.payload.begin(), m.payload.end()), "hello world");
    ASSERT_EQ(reader.read(m), ReadResult::Ok);
    EXPECT_EQ(m.type, kAttention);
    EXPECT_TRUE(m.payload.empty());
    closeClient();
    EXPECT_EQ(reader.read(m), ReadResult::Eof);
}

TEST_F(SocketPair, RejectsBrokenFraming) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        ReadResult expected;
    };
    std::vector<uint8_t> mixed = packet(kSqlBatch, 0, "a");
    std::vector<uint8_t> second = packet(kRpc, kStatusEom, "b");
    mixed.insert(mixed.end(), second.begin(), second.end());
    std::vector<uint8_t> cut = packet(kSqlBatch, kStatusEom, "abcdef");
    cut.resize(cut.size() - 2);
    const Case cases[] = {
        {"length below the header", packet(kSqlBatch, kStatusEom, "", 5), ReadResult::Malformed},
        {"length above the packet limit", packet(kSqlBatch, kStatusEom, "", 40000),
         ReadResult::TooLarge},
        {"type changes inside a message", mixed, ReadResult::Malformed},
        {"connection ends inside a packet", cut, ReadResult::Malformed},
    };
    for (const Case& c : cases) {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        ASSERT_EQ(::write(fds[1], c.bytes.data(), c.bytes.size()), ssize_t(c.bytes.size()));
        close(fds[1]);
        MessageReader reader(fds[0]);
        Message m;
        EXPECT_EQ(reader.read(m), c.expected) << c.what;
        close(fds[0]);
    }
}

TEST_F(SocketPair, BoundsTheMessageSize) {
    Limits limits;
    limits.maxMessage = 100;
    send(packet(kSqlBatch, 0, std::string(60, 'x')));
    send(packet(kSqlBatch, kStatusEom, std::string(60, 'y')));
    MessageReader reader(server(), limits);
    Message m;
    EXPECT_EQ(reader.read(m), ReadResult::TooLarge);
}

struct Packet {
    uint8_t type, status;
    uint16_t length;
    uint8_t id;
    std::vector<uint8_t> payload;
};

std::vector<Packet> splitPackets(const std::vector<uint8_t>& bytes) {
    std::vector<Packet> out;
    for (size_t i = 0; i + 8 <= bytes.size();) {
        Packet p{
            bytes[i], bytes[i + 1], uint16_t(bytes[i + 2] << 8 | bytes[i + 3]), bytes[i + 6], {}};
        if (p.length < 8 || i + p.length > bytes.size()) break;
        p.payload.assign(bytes.begin() + long(i) + 8, bytes.begin() + long(i) + p.length);
        out.push_back(p);
        i += p.length;
    }
    return out;
}

TEST_F(SocketPair, WriterSplitsAtThePacketSizeAndMarksOnlyTheLastPacket) {
    MessageWriter writer(server(), 51);
    writer.setPacketSize(512);
    std::vector<uint8_t> data(1200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    writer.write(data.data(), data.size());
    writer.endMessage();
    writer.endMessage();  // an empty message still gets its one packet
    std::vector<Packet> packets = splitPackets(receiveAll());
    ASSERT_EQ(packets.size(), 4u);
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(packets[i].type, kReply);
        EXPECT_EQ(packets[i].status, i == 2 ? kStatusEom : 0) << i;
        EXPECT_LE(packets[i].length, 512);
        EXPECT_EQ(packets[i].id, i + 1);
        joined.insert(joined.end(), packets[i].payload.begin(), packets[i].payload.end());
    }
    EXPECT_EQ(joined, data);
    EXPECT_EQ(packets[3].status, kStatusEom);
    EXPECT_TRUE(packets[3].payload.empty());
}

// --drop-after-rows relies on it: what is buffered leaves, complete, without
// the end-of-message mark, before the connection closes.
TEST_F(SocketPair, WriterFlushesAPartialMessageWithoutEndingIt) {
    MessageWriter writer(server(), 51);
    writer.setPacketSize(512);
    std::vector<uint8_t> data(MessageWriter::kBurstPackets * 504 + 1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    writer.write(data.data(), data.size());  // a burst leaves, 1000 bytes stay
    writer.flushPartial();
    std::vector<Packet> packets = splitPackets(receiveAll());
    ASSERT_EQ(packets.size(), MessageWriter::kBurstPackets + 2);
    std::vector<uint8_t> joined;
    for (const Packet& p : packets) {
        EXPECT_EQ(p.status, 0);
        joined.insert(joined.end(), p.payload.begin(), p.payload.end());
    }
    EXPECT_EQ(joined, data);
}

TEST_F(SocketPair, WriterNoticesAnAttentionWhileStreaming) {
    MessageWriter writer(server(), 51);
    writer.setPacketSize(512);
    send(packet(kAttention, kStatusEom, ""));
    // Packets leave in bursts; the check follows each burst.
    std::vector<uint8_t> data(MessageWriter::kBurstPackets * 512, 1);
    EXPECT_FALSE(writer.attentionPending());
    writer.write(data.data(), 100);
    EXPECT_FALSE(writer.attentionPending()) << "nothing has left yet";
    writer.write(data.data(), data.size());  // a burst of full packets leaves
    EXPECT_TRUE(writer.attentionPending());
    // The attention stays in the socket for the reader.
    MessageReader reader(server());
    Message m;
    ASSERT_EQ(reader.read(m), ReadResult::Ok);
    EXPECT_EQ(m.type, kAttention);
}

}  // namespace
