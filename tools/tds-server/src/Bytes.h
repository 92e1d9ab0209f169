// Byte-level helpers shared by the protocol code: little/big-endian writers,
// a bounds-checked reader, and the text conversions TDS needs (UTF-8 inside
// the server, UTF-16LE and CP1252 on the wire).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tds {

// Anything bytes can be written to: an in-memory buffer or a packet stream.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(const uint8_t* data, size_t size) = 0;

    void bytes(std::string_view s) { write(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
    void bytes(const std::vector<uint8_t>& v) { write(v.data(), v.size()); }
    void u8(uint8_t v) { write(&v, 1); }
    void u16le(uint16_t v);
    void u16be(uint16_t v);
    void u32le(uint32_t v);
    void u64le(uint64_t v);
    void i32le(int32_t v) { u32le(static_cast<uint32_t>(v)); }
    // Text as UTF-16LE, from UTF-8.
    void utf16(std::string_view utf8);
    // 1-byte character count + UTF-16LE (B_VARCHAR); longer text is cut.
    void bVarchar(std::string_view utf8);
    // 2-byte character count + UTF-16LE (US_VARCHAR).
    void usVarchar(std::string_view utf8);
};

class ByteBuffer : public Sink {
public:
    void write(const uint8_t* data, size_t size) override;
    const std::vector<uint8_t>& data() const { return data_; }
    size_t size() const { return data_.size(); }
    void clear() { data_.clear(); }
    void patchU16le(size_t at, uint16_t v);

private:
    std::vector<uint8_t> data_;
};

// A growable byte buffer with inline, non-virtual appends for the hot paths:
// rows are encoded straight into the packet writer's buffer. Keeps its
// storage across clear() and truncate().
class GrowBuffer {
public:
    GrowBuffer() = default;
    GrowBuffer(const GrowBuffer&) = delete;
    GrowBuffer& operator=(const GrowBuffer&) = delete;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const uint8_t* data() const { return data_.get(); }
    uint8_t* data() { return data_.get(); }
    void clear() { size_ = 0; }
    // Drops everything after the first n bytes (n <= size()).
    void truncate(size_t n) { size_ = n; }
    // Drops the first n bytes, moving the rest to the front.
    void consumeFront(size_t n);

    // n more bytes at the end, for the caller to fill.
    uint8_t* extend(size_t n) {
        if (capacity_ - size_ < n) grow(n);
        uint8_t* p = data_.get() + size_;
        size_ += n;
        return p;
    }
    void write(const void* p, size_t n) {
        if (n) std::memcpy(extend(n), p, n);
    }
    void bytes(std::string_view s) { write(s.data(), s.size()); }
    void u8(uint8_t v) { *extend(1) = v; }
    void u16le(uint16_t v) { storeLe<uint16_t>(extend(2), v); }
    void u32le(uint32_t v) { storeLe<uint32_t>(extend(4), v); }
    void u64le(uint64_t v) { storeLe<uint64_t>(extend(8), v); }
    void i32le(int32_t v) { u32le(static_cast<uint32_t>(v)); }
    // The lowest `count` bytes of v, least significant first.
    void littleEndian(uint64_t v, size_t count) {
        uint8_t* p = extend(count);
        switch (count) {
            case 1:
                p[0] = uint8_t(v);
                break;
            case 2:
                storeLe<uint16_t>(p, v);
                break;
            case 4:
                storeLe<uint32_t>(p, v);
                break;
            case 8:
                storeLe<uint64_t>(p, v);
                break;
            default:
                for (size_t k = 0; k < count; ++k) p[k] = uint8_t(v >> (8 * k));
        }
    }
    void patchU16le(size_t at, uint16_t v) {
        data_[at] = uint8_t(v);
        data_[at + 1] = uint8_t(v >> 8);
    }

private:
    template <typename T>
    static void storeLe(uint8_t* p, uint64_t v) {
        if constexpr (std::endian::native == std::endian::little) {
            const T t = T(v);
            std::memcpy(p, &t, sizeof t);
        } else {
            for (size_t k = 0; k < sizeof(T); ++k) p[k] = uint8_t(v >> (8 * k));
        }
    }
    void grow(size_t n);
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads from a byte range; every read past the end throws ProtocolError.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), size_(size) {}
    explicit Reader(const std::vector<uint8_t>& v) : Reader(v.data(), v.size()) {}

    size_t pos() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }
    bool atEnd() const { return pos_ == size_; }
    void seek(size_t pos);
    void skip(size_t n);
    uint8_t u8();
    uint16_t u16le();
    uint16_t u16be();
    uint32_t u32le();
    uint64_t u64le();
    const uint8_t* take(size_t n);
    // n UTF-16LE code units, returned as UTF-8.
    std::string utf16(size_t units);

private:
    const uint8_t* p_;
    size_t size_;
    size_t pos_ = 0;
};

// Conversions. Invalid input becomes U+FFFD (UTF-8/16) or '?' (CP1252).
// One code point from UTF-8 at i (which moves past it); U+FFFD when malformed.
char32_t nextCodePoint(std::string_view utf8, size_t& i);
// The CP1252 byte for a code point, '?' when it has none.
char cp1252Byte(char32_t cp);
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);
std::string utf16leToUtf8(const uint8_t* data, size_t bytes);
// Number of UTF-16 code units the UTF-8 text needs.
size_t utf16Length(std::string_view utf8);
std::string utf8ToCp1252(std::string_view utf8);
std::string cp1252ToUtf8(std::string_view cp1252);

std::string toLower(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace tds
