#include "Bytes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tds {

void Sink::u16le(uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    write(b, 2);
}

void Sink::u16be(uint16_t v) {
    uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    write(b, 2);
}

void Sink::u32le(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    write(b, 4);
}

void Sink::u64le(uint64_t v) {
    u32le(uint32_t(v));
    u32le(uint32_t(v >> 32));
}

void Sink::utf16(std::string_view utf8) {
    std::u16string s = utf8ToUtf16(utf8);
    std::vector<uint8_t> out(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = uint8_t(s[i]);
        out[2 * i + 1] = uint8_t(s[i] >> 8);
    }
    write(out.data(), out.size());
}

namespace {
void writeCounted(Sink& sink, std::string_view utf8, size_t maxUnits, bool wide) {
    std::u16string s = utf8ToUtf16(utf8);
    if (s.size() > maxUnits) {
        s.resize(maxUnits);
        if (!s.empty() && s.back() >= 0xD800 && s.back() < 0xDC00) s.pop_back();
    }
    if (wide) {
        sink.u16le(uint16_t(s.size()));
    } else {
        sink.u8(uint8_t(s.size()));
    }
    for (char16_t c : s) sink.u16le(uint16_t(c));
}
}  // namespace

void Sink::bVarchar(std::string_view utf8) { writeCounted(*this, utf8, 255, false); }
void Sink::usVarchar(std::string_view utf8) { writeCounted(*this, utf8, 65535, true); }

void ByteBuffer::write(const uint8_t* data, size_t size) {
    // resize + memcpy rather than insert: GCC 12 at -O2 misreads small inserts
    // into an empty vector as overflows (-Wstringop-overflow).
    if (size == 0) return;
    size_t old = data_.size();
    data_.resize(old + size);
    std::memcpy(data_.data() + old, data, size);
}

void ByteBuffer::patchU16le(size_t at, uint16_t v) {
    data_.at(at) = uint8_t(v);
    data_.at(at + 1) = uint8_t(v >> 8);
}

void Reader::seek(size_t pos) {
    if (pos > size_) throw ProtocolError("offset beyond the message");
    pos_ = pos;
}

void Reader::skip(size_t n) { take(n); }

const uint8_t* Reader::take(size_t n) {
    if (n > remaining()) throw ProtocolError("message too short");
    const uint8_t* p = p_ + pos_;
    pos_ += n;
    return p;
}

uint8_t Reader::u8() { return *take(1); }

uint16_t Reader::u16le() {
    const uint8_t* b = take(2);
    return uint16_t(b[0] | (b[1] << 8));
}

uint16_t Reader::u16be() {
    const uint8_t* b = take(2);
    return uint16_t((b[0] << 8) | b[1]);
}

uint32_t Reader::u32le() {
    const uint8_t* b = take(4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

uint64_t Reader::u64le() {
    uint64_t lo = u32le();
    uint64_t hi = u32le();
    return lo | (hi << 32);
}

std::string Reader::utf16(size_t units) {
    if (units > remaining() / 2) throw ProtocolError("text beyond the message");
    const uint8_t* p = take(units * 2);
    return utf16leToUtf8(p, units * 2);
}

void GrowBuffer::grow(size_t n) {
    size_t want = std::max<size_t>({capacity_ * 2, size_ + n, 256});
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[want]);
    if (size_) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = want;
}

void GrowBuffer::consumeFront(size_t n) {
    if (n >= size_) {
        size_ = 0;
        return;
    }
    std::memmove(data_.get(), data_.get() + n, size_ - n);
    size_ -= n;
}

// Decodes one code point from UTF-8; returns U+FFFD for malformed input.
char32_t nextCodePoint(std::string_view s, size_t& i) {
    auto b0 = uint8_t(s[i++]);
    if (b0 < 0x80) return b0;
    int extra;
    char32_t cp;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (uint8_t(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (uint8_t(s[i++]) & 0x3F);
    }
    static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0xFFFD;
    return cp;
}

namespace {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones map to the C1 controls,
// as Windows' own conversion does.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

size_t utf16Length(std::string_view utf8) {
    size_t n = 0;
    for (size_t i = 0; i < utf8.size();) n += nextCodePoint(utf8, i) >= 0x10000 ? 2 : 1;
    return n;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string utf16leToUtf8(const uint8_t* data, size_t bytes) {
    std::u16string s(bytes / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
    return utf16ToUtf8(s);
}

char cp1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return char(cp);
    for (int k = 0; k < 32; ++k) {
        if (kCp1252High[k] == cp) return char(0x80 + k);
    }
    return '?';
}

std::string utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) out += cp1252Byte(nextCodePoint(utf8, i));
    return out;
}

std::string cp1252ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        auto b = uint8_t(ch);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? char32_t(kCp1252High[b - 0x80]) : char32_t(b));
    }
    return out;
}

std::string toLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(uint8_t(c)));
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

}  // namespace tds
