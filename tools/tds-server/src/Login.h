// PRELOGIN and LOGIN7: what the client asks for and how the server answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tds {

constexpr uint32_t kTds74 = 0x74000004;
constexpr uint32_t kTds73B = 0x730B0003;

// The PRELOGIN's ENCRYPTION values.
enum PreloginEncryption : uint8_t {
    kEncryptOff = 0x00,     // client: not asked for; server: the login packet only
    kEncryptOn = 0x01,      // the whole connection
    kEncryptNotSup = 0x02,  // no TLS at all
    kEncryptReq = 0x03,     // server: the whole connection, or none
};

// What the server offers.
enum class EncryptionMode {
    None,      // no certificate: every packet in clear
    Offered,   // as SQL Server: the login always, the whole link when the client asks
    Required,  // the whole link, or no connection
};

// Checks the client's PRELOGIN option table; throws ProtocolError when it is malformed.
void checkPrelogin(const std::vector<uint8_t>& payload);
// The client's ENCRYPTION byte (a checked payload); ENCRYPT_NOT_SUP when it sends none.
uint8_t preloginEncryption(const std::vector<uint8_t>& payload);
// The server's ENCRYPTION answer to the client's byte.
uint8_t encryptionAnswer(EncryptionMode mode, uint8_t client);
// The reply payload with that ENCRYPTION answer, and no MARS.
std::vector<uint8_t> preloginReply(uint8_t encryption = kEncryptNotSup);

struct Login7 {
    uint32_t tdsVersion = 0;
    uint32_t packetSize = 0;
    std::string hostName;
    std::string userName;
    std::string password;
    std::string appName;
    std::string serverName;
    std::string language;
    std::string database;
    bool wantsSspi = false;  // integrated security: not offered by this server
    // fODBC: the session starts with the ANSI defaults on and TEXTSIZE
    // unlimited, as SQL Server sets it for ODBC drivers.
    bool odbc = true;
};

// Parses a LOGIN7 payload; throws ProtocolError on offsets or lengths outside it.
Login7 parseLogin7(const std::vector<uint8_t>& payload);

// The password field is UTF-16LE with every byte nibble-swapped and XORed with
// 0xA5 by the client; these undo and redo that.
std::string decodePassword(const uint8_t* data, size_t bytes);
std::vector<uint8_t> encodePassword(std::string_view utf8);

// A LOGIN7 payload as a TDS 7.4 client builds it (for probing the server).
std::vector<uint8_t> buildLogin7(const Login7& login);

}  // namespace tds
