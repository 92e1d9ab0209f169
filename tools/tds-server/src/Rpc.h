// RPC requests: the procedure called and its parameters, as values SQLite can bind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Values.h"

namespace tds {

struct RpcParam {
    std::string name;  // "@table_name", or empty for positional parameters
    bool output = false;
    Storage storage = Storage::Null;
    int64_t integer = 0;
    double real = 0;
    std::string bytes;  // Text (UTF-8) or Blob
};

struct RpcRequest {
    std::string name;  // as sent, e.g. "[demo]..sp_tables"; for proc ids the known name
    int procId = -1;
    std::vector<RpcParam> params;
};

struct UnsupportedParameter : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses an RPC payload whose ALL_HEADERS have already been skipped.
// Throws ProtocolError for malformed data, UnsupportedParameter for types it
// does not read.
RpcRequest parseRpc(const uint8_t* data, size_t size);

// Skips ALL_HEADERS at the start of a batch or RPC payload; returns the
// offset of what follows. Throws ProtocolError when the length is wrong.
size_t skipAllHeaders(const std::vector<uint8_t>& payload);

// "YYYY-MM-DD" for a day count from 0001-01-01.
std::string dateText(int64_t daysSinceYearOne);

}  // namespace tds
