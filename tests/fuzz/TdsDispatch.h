// What the server's session does with a whole request message before any
// database work: the parser for its type, on untrusted bytes. A parser may
// refuse the message (the session then closes the connection); anything else
// that leaves it, or a sanitizer report, is a fault.
#pragma once

#include <cstdint>
#include <vector>

#include "Bytes.h"
#include "Login.h"
#include "Packets.h"
#include "Rpc.h"
#include "Tsql.h"

namespace fuzz {

inline void dispatchMessage(uint8_t type, const std::vector<uint8_t>& payload) {
    try {
        switch (type) {
            case tds::kPrelogin:
                tds::checkPrelogin(payload);
                break;
            case tds::kLogin7:
                tds::parseLogin7(payload);
                break;
            case tds::kSqlBatch: {
                const size_t offset = tds::skipAllHeaders(payload);
                const std::string sql = tds::utf16leToUtf8(payload.data() + offset,
                                                           (payload.size() - offset) & ~size_t(1));
                tds::rewriteTsql(sql, {"testdb", {"sales"}});
                break;
            }
            case tds::kRpc: {
                const size_t offset = tds::skipAllHeaders(payload);
                tds::parseRpc(payload.data() + offset, payload.size() - offset);
                break;
            }
            default:
                break;
        }
    } catch (const tds::ProtocolError&) {
    } catch (const tds::UnsupportedParameter&) {
    }
}

}  // namespace fuzz
