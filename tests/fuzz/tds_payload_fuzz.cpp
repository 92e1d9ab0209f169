// One request message as the server's parsers see it: the first byte is the
// packet type (PRELOGIN 0x12, LOGIN7 0x10, SQL batch 0x01, RPC 0x03), the rest
// the payload. A LOGIN7 that parses must also survive being rebuilt: every
// text read back unchanged from buildLogin7's message.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Login.h"
#include "TdsDispatch.h"

namespace {

[[noreturn]] void fail(const char* field) {
    std::fprintf(stderr, "tds_payload_fuzz: LOGIN7 %s changed in the rebuilt message\n", field);
    std::abort();
}

void checkLoginRoundTrip(const std::vector<uint8_t>& payload) {
    tds::Login7 first;
    try {
        first = tds::parseLogin7(payload);
    } catch (const tds::ProtocolError&) {
        return;
    }
    // Offsets in LOGIN7 are 16 bits wide: only texts that fit can be rebuilt.
    if (payload.size() > 16000) return;
    const tds::Login7 again = tds::parseLogin7(tds::buildLogin7(first));
    if (again.hostName != first.hostName) fail("host name");
    if (again.userName != first.userName) fail("user name");
    if (again.password != first.password) fail("password");
    if (again.appName != first.appName) fail("application name");
    if (again.serverName != first.serverName) fail("server name");
    if (again.language != first.language) fail("language");
    if (again.database != first.database) fail("database");
    if (again.wantsSspi != first.wantsSspi) fail("integrated security flag");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    const uint8_t type = data[0];
    const std::vector<uint8_t> payload(data + 1, data + size);
    fuzz::dispatchMessage(type, payload);
    if (type == tds::kLogin7) checkLoginRoundTrip(payload);
    return 0;
}
