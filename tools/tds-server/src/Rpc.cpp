#include "Rpc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Bytes.h"

namespace tds {

size_t skipAllHeaders(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    uint32_t total = r.u32le();
    if (total < 4 || total > payload.size()) throw ProtocolError("ALL_HEADERS length wrong");
    return total;
}

std::string dateText(int64_t days) {
    // Inverse of daysSinceYearOne (Howard Hinnant's civil_from_days).
    int64_t z = days - 719162 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", int(y), int(m), int(d));
    return buf;
}

namespace {

const char* const kProcNames[] = {"",
                                  "sp_cursor",
                                  "sp_cursoropen",
                                  "sp_cursorprepare",
                                  "sp_cursorexecute",
                                  "sp_cursorprepexec",
                                  "sp_cursorunprepare",
                                  "sp_cursorfetch",
                                  "sp_cursoroption",
                                  "sp_cursorclose",
                                  "sp_executesql",
                                  "sp_prepare",
                                  "sp_execute",
                                  "sp_prepexec",
                                  "sp_prepexecrpc",
                                  "sp_unprepare"};

int64_t signedLittleEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t k = 0; k < n; ++k) v |= uint64_t(p[k]) << (8 * k);
    if (n < 8 && (p[n - 1] & 0x80)) v |= ~uint64_t(0) << (8 * n);
    return int64_t(v);
}

std::string timeText(uint64_t units, int scale) {
    uint64_t perSecond = 1;
    for (int k = 0; k < scale; ++k) perSecond *= 10;
    uint64_t seconds = units / perSecond, frac = units % perSecond;
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(seconds / 3600),
                          int(seconds / 60 % 60), int(seconds % 60));
    std::string out(buf, size_t(n));
    if (scale > 0) {
        std::string digits = std::to_string(frac);
        out += '.';
        out.append(size_t(scale) - std::min(digits.size(), size_t(scale)), '0');
        out += digits;
    }
    return out;
}

std::string scaledText(bool negative, unsigned __int128 magnitude, int scale) {
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude > 0);
    if (scale > 0) {
        if (digits.size() <= size_t(scale))
            digits.insert(0, size_t(scale) + 1 - digits.size(), '0');
        digits.insert(digits.size() - size_t(scale), 1, '.');
    }
    if (negative) digits.insert(digits.begin(), '-');
    return digits;
}

void setText(RpcParam& p, std::string text) {
    p.storage = Storage::Text;
    p.bytes = std::move(text);
}

// Partially length-prefixed data: total length, chunks, terminator.
bool readPlp(Reader& r, std::string& out) {
    uint64_t total = r.u64le();
    if (total == ~uint64_t(0)) return false;
    out.clear();
    for (;;) {
        uint32_t chunk = r.u32le();
        if (chunk == 0) break;
        const uint8_t* p = r.take(chunk);
        out.append(reinterpret_cast<const char*>(p), chunk);
    }
    return true;
}

void readValue(Reader& r, RpcParam& p) {
    uint8_t type = r.u8();
    auto fixedInt = [&](size_t n) {
        const uint8_t* b = r.take(n);
        p.storage = Storage::Integer;
        p.integer = n == 1 ? b[0] : signedLittleEndian(b, n);
    };
    switch (type) {
        case 0x30:
            fixedInt(1);
            return;
        case 0x34:
            fixedInt(2);
            return;
        case 0x38:
            fixedInt(4);
            return;
        case 0x7F:
            fixedInt(8);
            return;
        case 0x32:
            fixedInt(1);
            return;
        case 0x26:
        case 0x68: {
            r.u8();
            uint8_t len = r.u8();
            if (len == 0) return;
            if (len != 1 && len != 2 && len != 4 && len != 8)
                throw ProtocolError("bad integer length");
            fixedInt(len);
            return;
        }
        case 0x6D:
        case 0x3B:
        case 0x3E: {
            uint8_t len = type == 0x3B ? 4 : type == 0x3E ? 8 : (r.u8(), r.u8());
            if (len == 0) return;
            const uint8_t* b = r.take(len);
            p.storage = Storage::Real;
            if (len == 4) {
                float f;
                std::memcpy(&f, b, 4);
                p.real = f;
            } else if (len == 8) {
                std::memcpy(&p.real, b, 8);
            } else {
                throw ProtocolError("bad float length");
            }
            return;
        }
        case 0x6A:
        case 0x6C: {
            r.u8();
            r.u8();
            uint8_t scale = r.u8();
            uint8_t len = r.u8();
            if (len == 0) return;
            if (len < 2 || len > 17) throw ProtocolError("bad decimal length");
            bool positive = r.u8() == 1;
            const uint8_t* b = r.take(len - 1u);
            unsigned __int128 v = 0;
            for (int k = len - 2; k >= 0; --k) v = (v << 8) | b[k];
            setText(p, scaledText(!positive && v != 0, v, scale));
            return;
        }
        case 0x6E: {
            r.u8();
            uint8_t len = r.u8();
            if (len == 0) return;
            int64_t v;
            if (len == 4) {
                v = signedLittleEndian(r.take(4), 4);
            } else if (len == 8) {
                uint64_t hi = r.u32le(), lo = r.u32le();
                v = int64_t((hi << 32) | lo);
            } else {
                throw ProtocolError("bad money length");
            }
            unsigned __int128 mag =
                v < 0 ? (unsigned __int128)(-(__int128)v) : (unsigned __int128)v;
            setText(p, scaledText(v < 0, mag, 4));
            return;
        }
        case 0x6F: {
            r.u8();
            uint8_t len = r.u8();
            if (len == 0) return;
            int64_t days;
            uint64_t units;
            if (len == 4) {
                days = r.u16le();
                units = uint64_t(r.u16le()) * 60 * 1000;
            } else if (len == 8) {
                days = int32_t(r.u32le());
                units = (uint64_t(r.u32le()) * 1000 + 150) / 300;  // ticks -> ms
            } else {
                throw ProtocolError("bad datetime length");
            }
            setText(p, dateText(days + 693595) + " " + timeText(units, 3));
            return;
        }
        case 0x28:
        case 0x29:
        case 0x2A: {
            uint8_t scale = type == 0x28 ? 0 : r.u8();
            if (scale > 7) throw ProtocolError("bad time scale");
            uint8_t len = r.u8();
            if (len == 0) return;
            size_t timeLen = type == 0x28 ? 0 : scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
            if (len != timeLen + (type == 0x29 ? 0 : 3))
                throw ProtocolError("bad date/time length");
            uint64_t units = 0;
            const uint8_t* t = r.take(timeLen);
            for (size_t k = 0; k < timeLen; ++k) units |= uint64_t(t[k]) << (8 * k);
            std::string out;
            if (type != 0x29) {
                const uint8_t* d = r.take(3);
                out = dateText(int64_t(d[0] | (d[1] << 8) | (d[2] << 16)));
            }
            if (type != 0x28) {
                if (!out.empty()) out += ' ';
                out += timeText(units, scale);
            }
            setText(p, out);
            return;
        }
        case 0x24: {
            r.u8();
            uint8_t len = r.u8();
            if (len == 0) return;
            if (len != 16) throw ProtocolError("bad uniqueidentifier length");
            const uint8_t* b = r.take(16);
            char buf[40];
            std::snprintf(buf, sizeof buf,
                          "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                          b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11],
                          b[12], b[13], b[14], b[15]);
            setText(p, buf);
            return;
        }
        case 0xE7:
        case 0xEF:
        case 0xA7:
        case 0xAF:
        case 0xA5:
        case 0xAD: {
            uint16_t maxLen = r.u16le();
            bool character = type != 0xA5 && type != 0xAD;
            bool wide = type == 0xE7 || type == 0xEF;
            if (character) r.skip(5);
            std::string raw;
            if (maxLen == 0xFFFF) {
                if (!readPlp(r, raw)) return;
            } else {
                uint16_t len = r.u16le();
                if (len == 0xFFFF) return;
                const uint8_t* b = r.take(len);
                raw.assign(reinterpret_cast<const char*>(b), len);
            }
            if (!character) {
                p.storage = Storage::Blob;
                p.bytes = std::move(raw);
            } else {
                setText(p, wide ? utf16leToUtf8(reinterpret_cast<const uint8_t*>(raw.data()),
                                                raw.size())
                                : cp1252ToUtf8(raw));
            }
            return;
        }
        case 0x63:
        case 0x23:
        case 0x22: {
            r.u32le();
            if (type != 0x22) r.skip(5);
            uint32_t len = r.u32le();
            if (len == 0xFFFFFFFF) return;
            const uint8_t* b = r.take(len);
            if (type == 0x63) {
                setText(p, utf16leToUtf8(b, len));
            } else if (type == 0x23) {
                setText(p, cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(b), len)));
            } else {
                p.storage = Storage::Blob;
                p.bytes.assign(reinterpret_cast<const char*>(b), len);
            }
            return;
        }
        default: {
            char msg[64];
            std::snprintf(msg, sizeof msg, "parameter type 0x%02X", type);
            throw UnsupportedParameter(msg);
        }
    }
}

}  // namespace

RpcRequest parseRpc(const uint8_t* data, size_t size) {
    Reader r(data, size);
    RpcRequest req;
    uint16_t nameLen = r.u16le();
    if (nameLen == 0xFFFF) {
        req.procId = r.u16le();
        if (req.procId >= 1 && req.procId <= 15) {
            req.name = kProcNames[req.procId];
        } else {
            req.name = std::to_string(req.procId);
            req.name.insert(req.name.begin(), '#');
        }
    } else {
        req.name = r.utf16(nameLen);
    }
    r.u16le();  // option flags
    while (!r.atEnd()) {
        if (req.params.size() >= 2100) throw ProtocolError("too many parameters");
        RpcParam p;
        p.name = r.utf16(r.u8());
        p.output = (r.u8() & 0x01) != 0;
        readValue(r, p);
        req.params.push_back(std::move(p));
    }
    return req;
}

}  // namespace tds
