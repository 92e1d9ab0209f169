// PRELOGIN and LOGIN7: what the server reads from a client and answers.
#include "Login.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "Bytes.h"
#include "Packets.h"
#include "Tls.h"

namespace {

using namespace tds;

TEST(Password, DecodesTheObfuscatedForm) {
    // 'a' is 61 00 in UTF-16LE; nibble swap then XOR A5 gives B3 A5.
    const uint8_t wire[] = {0xB3, 0xA5};
    EXPECT_EQ(decodePassword(wire, 2), "a");
    std::vector<uint8_t> encoded = encodePassword("a");
    EXPECT_EQ(encoded, std::vector<uint8_t>(wire, wire + 2));
    for (const char* pw : {"secret", "pa;ss}word",
                           "Gr\xc3\xbc\xc3\x9f"
                           "e \xe2\x9c\x93",
                           ""}) {
        std::vector<uint8_t> e = encodePassword(pw);
        EXPECT_EQ(decodePassword(e.data(), e.size()), pw);
    }
}

TEST(Login7, ReadsUserPasswordDatabaseAndPacketSize) {
    Login7 in;
    in.userName = "tester";
    in.password = "pa;ss}w\xc3\xb6rd";
    in.database = "testdb";
    in.hostName = "host";
    in.language = "us_english";
    in.packetSize = 8192;
    Login7 out = parseLogin7(buildLogin7(in));
    EXPECT_EQ(out.userName, "tester");
    EXPECT_EQ(out.password, in.password);
    EXPECT_EQ(out.database, "testdb");
    EXPECT_EQ(out.hostName, "host");
    EXPECT_EQ(out.language, "us_english");
    EXPECT_EQ(out.packetSize, 8192u);
    EXPECT_EQ(out.tdsVersion, kTds74);
    EXPECT_FALSE(out.wantsSspi);
}

TEST(Login7, AnEmptyDatabaseFieldMeansTheDefault) {
    Login7 in;
    in.userName = "tester";
    EXPECT_EQ(parseLogin7(buildLogin7(in)).database, "");
}

TEST(Login7, RejectsFieldsOutsideTheMessage) {
    Login7 in;
    in.userName = "tester";
    in.password = "secret";
    std::vector<uint8_t> good = buildLogin7(in);

    std::vector<uint8_t> truncated(good.begin(), good.begin() + 60);
    EXPECT_THROW(parseLogin7(truncated), ProtocolError);

    std::vector<uint8_t> badOffset = good;
    badOffset[40] = 0xF0;  // user name offset far beyond the end
    badOffset[41] = 0xFF;
    EXPECT_THROW(parseLogin7(badOffset), ProtocolError);

    std::vector<uint8_t> badLength = good;
    badLength[46] = 0xFF;  // password length in characters
    EXPECT_THROW(parseLogin7(badLength), ProtocolError);
}

TEST(Prelogin, ReplyRefusesEncryptionAndMars) {
    std::vector<uint8_t> reply = preloginReply();
    checkPrelogin(reply);  // well-formed by its own rules
    Reader r(reply);
    std::map<uint8_t, std::vector<uint8_t>> options;
    for (;;) {
        uint8_t type = r.u8();
        if (type == 0xFF) break;
        size_t offset = r.u16be(), length = r.u16be();
        options[type] = std::vector<uint8_t>(reply.begin() + long(offset),
                                             reply.begin() + long(offset + length));
    }
    EXPECT_EQ(options[1], std::vector<uint8_t>{0x02});
    EXPECT_EQ(options[4], std::vector<uint8_t>{0x00});
    EXPECT_EQ(options[0].size(), 6u);
}

TEST(Prelogin, RejectsOptionsBeyondTheMessage) {
    const std::vector<uint8_t> bad = {0x00, 0x00, 0x06, 0x00, 0x40, 0xFF};
    EXPECT_THROW(checkPrelogin(bad), ProtocolError);
    const std::vector<uint8_t> unterminated = {0x00, 0x00, 0x05};
    EXPECT_THROW(checkPrelogin(unterminated), ProtocolError);
}

// A server that requires encryption answers ENCRYPT_REQ whatever the client
// said; a client that then logs in in clear gets one refusal it can show,
// and no session.
TEST(Prelogin, ARequiringServerRefusesALoginInClear) {
    std::string error;
    const std::unique_ptr<TlsIdentity> identity = TlsIdentity::create(error);
    ASSERT_TRUE(identity) << error;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    std::atomic<bool> sessionRan{false};
    std::thread server([&] {
        serveLink(fds[0], 51, {EncryptionMode::Required, identity.get(), 0},
                  [&](int) { sessionRan = true; });
        ::shutdown(fds[0], SHUT_RDWR);
    });
    const auto send = [&](uint8_t type, const std::vector<uint8_t>& payload) {
        const size_t length = payload.size() + 8;
        std::vector<uint8_t> p = {type, kStatusEom, uint8_t(length >> 8), uint8_t(length), 0, 0,
                                  1,    0};
        p.insert(p.end(), payload.begin(), payload.end());
        ASSERT_EQ(::write(fds[1], p.data(), p.size()), ssize_t(p.size()));
    };
    MessageReader client(fds[1]);
    Message reply;
    send(kPrelogin, {0x01, 0x00, 0x06, 0x00, 0x01, 0xFF, kEncryptNotSup});
    ASSERT_EQ(client.read(reply), ReadResult::Ok);
    EXPECT_EQ(reply.type, kReply);
    EXPECT_EQ(preloginEncryption(reply.payload), kEncryptReq);

    Login7 login;
    login.userName = "tester";
    login.password = "secret";
    send(kLogin7, buildLogin7(login));
    ASSERT_EQ(client.read(reply), ReadResult::Ok);
    ByteBuffer text;
    text.utf16("requires an encrypted connection");
    const std::vector<uint8_t>& needle = text.data();
    EXPECT_NE(std::search(reply.payload.begin(), reply.payload.end(), needle.begin(), needle.end()),
              reply.payload.end());
    EXPECT_EQ(reply.payload[0], 0xAA);  // an ERROR token
    EXPECT_EQ(client.read(reply), ReadResult::Eof);
    server.join();
    EXPECT_FALSE(sessionRan);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
