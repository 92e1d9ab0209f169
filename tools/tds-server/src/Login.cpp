#include "Login.h"

#include "Bytes.h"

namespace tds {

void checkPrelogin(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    for (int options = 0;; ++options) {
        if (options > 64) throw ProtocolError("PRELOGIN option table too long");
        uint8_t type = r.u8();
        if (type == 0xFF) return;
        size_t offset = r.u16be();
        size_t length = r.u16be();
        if (offset + length > payload.size())
            throw ProtocolError("PRELOGIN option beyond the message");
    }
}

uint8_t preloginEncryption(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    for (;;) {
        const uint8_t type = r.u8();
        if (type == 0xFF) return kEncryptNotSup;
        const size_t offset = r.u16be();
        const size_t length = r.u16be();
        if (type == 1 && length >= 1) return payload[offset];
    }
}

uint8_t encryptionAnswer(EncryptionMode mode, uint8_t client) {
    switch (mode) {
        case EncryptionMode::None:
            return kEncryptNotSup;
        case EncryptionMode::Required:
            return kEncryptReq;
        case EncryptionMode::Offered:
            break;
    }
    // SQL Server with a certificate: a client that cannot encrypt logs in
    // in clear, one that did not ask gets its login packet encrypted, one
    // that asked gets the whole connection.
    if (client == kEncryptNotSup) return kEncryptNotSup;
    return client == kEncryptOff ? kEncryptOff : kEncryptOn;
}

std::vector<uint8_t> preloginReply(uint8_t encryption) {
    // Option table (5 entries of 5 bytes + terminator = 26 bytes), then the data.
    struct Option {
        uint8_t type;
        std::vector<uint8_t> data;
    };
    const Option options[] = {
        {0, {0x10, 0x00, 0x10, 0x7C, 0x00, 0x00}},  // version 16.0.4220
        {1, {encryption}},
        {2, {0x00}},  // instance: accepted
        {3, {}},      // thread id: unused
        {4, {0x00}},  // MARS off
    };
    ByteBuffer b;
    uint16_t offset = uint16_t(std::size(options) * 5 + 1);
    for (const Option& o : options) {
        b.u8(o.type);
        b.u16be(offset);
        b.u16be(uint16_t(o.data.size()));
        offset = uint16_t(offset + o.data.size());
    }
    b.u8(0xFF);
    for (const Option& o : options) b.bytes(o.data);
    return b.data();
}

std::string decodePassword(const uint8_t* data, size_t bytes) {
    std::vector<uint8_t> plain(data, data + bytes);
    for (uint8_t& b : plain) {
        b ^= 0xA5;
        b = uint8_t((b << 4) | (b >> 4));
    }
    return utf16leToUtf8(plain.data(), plain.size());
}

std::vector<uint8_t> encodePassword(std::string_view utf8) {
    ByteBuffer b;
    b.utf16(utf8);
    std::vector<uint8_t> out = b.data();
    for (uint8_t& x : out) x = uint8_t(((x << 4) | (x >> 4)) ^ 0xA5);
    return out;
}

namespace {
constexpr size_t kFixedSize = 94;

struct Field {
    size_t offset;
    size_t units;
};

Field field(Reader& r) {
    Field f{r.u16le(), r.u16le()};
    return f;
}

std::string readText(const std::vector<uint8_t>& payload, Field f) {
    if (f.units == 0) return {};
    if (f.offset < kFixedSize || f.offset + 2 * f.units > payload.size())
        throw ProtocolError("LOGIN7 field beyond the message");
    return utf16leToUtf8(payload.data() + f.offset, 2 * f.units);
}
}  // namespace

Login7 parseLogin7(const std::vector<uint8_t>& payload) {
    if (payload.size() < kFixedSize) throw ProtocolError("LOGIN7 too short");
    Reader r(payload);
    Login7 login;
    uint32_t total = r.u32le();
    if (total > payload.size() || total < kFixedSize)
        throw ProtocolError("LOGIN7 length field wrong");
    login.tdsVersion = r.u32le();
    login.packetSize = r.u32le();
    r.skip(12);  // client version, pid, connection id
    r.u8();
    uint8_t flags2 = r.u8();
    login.wantsSspi = (flags2 & 0x80) != 0;
    login.odbc = (flags2 & 0x02) != 0;
    r.skip(2 + 4 + 4);  // type flags, flags3, time zone, lcid
    Field host = field(r), user = field(r), password = field(r), app = field(r), server = field(r);
    field(r);  // feature extension: nothing here needs it
    field(r);  // client interface name
    Field language = field(r), database = field(r);
    login.hostName = readText(payload, host);
    login.userName = readText(payload, user);
    if (password.units > 0) {
        if (password.offset < kFixedSize || password.offset + 2 * password.units > payload.size())
            throw ProtocolError("LOGIN7 password beyond the message");
        login.password = decodePassword(payload.data() + password.offset, 2 * password.units);
    }
    login.appName = readText(payload, app);
    login.serverName = readText(payload, server);
    login.language = readText(payload, language);
    login.database = readText(payload, database);
    return login;
}

std::vector<uint8_t> buildLogin7(const Login7& login) {
    // Variable part in field order; offsets counted from the payload start.
    ByteBuffer var;
    std::vector<std::pair<uint16_t, uint16_t>> fields;
    auto addText = [&](std::string_view text) {
        auto start = uint16_t(kFixedSize + var.size());
        var.utf16(text);
        fields.emplace_back(start, uint16_t(utf16Length(text)));
    };
    addText(login.hostName);
    addText(login.userName);
    {
        auto start = uint16_t(kFixedSize + var.size());
        std::vector<uint8_t> pw = encodePassword(login.password);
        var.bytes(pw);
        fields.emplace_back(start, uint16_t(pw.size() / 2));
    }
    addText(login.appName);
    addText(login.serverName);
    fields.emplace_back(uint16_t(kFixedSize + var.size()), 0);  // no extension
    addText("");
    addText(login.language);
    addText(login.database);

    ByteBuffer b;
    b.u32le(uint32_t(kFixedSize + var.size()));
    b.u32le(login.tdsVersion ? login.tdsVersion : kTds74);
    b.u32le(login.packetSize ? login.packetSize : 4096);
    b.u32le(0x07000000);
    b.u32le(1234);
    b.u32le(0);
    b.u8(0xE0);
    b.u8(uint8_t((login.wantsSspi ? 0x80 : 0) | (login.odbc ? 0x02 : 0) | 0x01));
    b.u8(0);
    b.u8(0);
    b.u32le(0);
    b.u32le(0x0409);
    for (auto [offset, units] : fields) {
        b.u16le(offset);
        b.u16le(units);
    }
    for (int i = 0; i < 6; ++i) b.u8(0);  // client MAC
    auto end = uint16_t(kFixedSize + var.size());
    for (int i = 0; i < 3; ++i) {  // SSPI, attach file, change password
        b.u16le(end);
        b.u16le(0);
    }
    b.u32le(0);
    b.bytes(var.data());
    return b.data();
}

}  // namespace tds
