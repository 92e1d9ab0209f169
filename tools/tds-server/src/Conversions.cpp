#include "Conversions.h"

#include <endian.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "Bytes.h"
#include "Tsql.h"
#include "Values.h"

namespace tds {

namespace {

constexpr std::string_view kErrorPrefix = "tds error ";

void fail(sqlite3_context* ctx, int number, std::string_view text) {
    const std::string message = numberedError(number, text);
    sqlite3_result_error(ctx, message.data(), int(message.size()));
}

std::string_view textOf(sqlite3_value* v) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return {p ? p : "", size_t(sqlite3_value_bytes(v))};
}

std::string_view blobOf(sqlite3_value* v) {
    const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
    return {p ? p : "", size_t(sqlite3_value_bytes(v))};
}

// Results go out of one buffer per thread, which SQLite copies: no
// allocation per row once it has grown.
std::string& scratch() {
    thread_local std::string buffer;
    buffer.clear();
    return buffer;
}

void resultBytes(sqlite3_context* ctx, std::string_view bytes) {
    sqlite3_result_blob64(ctx, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

// nvarchar's bytes: UTF-16LE. Never more than two bytes for each UTF-8 byte.
void appendUtf16le(std::string& out, std::string_view utf8) {
    const size_t start = out.size();
    out.resize(start + 2 * utf8.size());
    char* p = out.data() + start;
    for (size_t i = 0; i < utf8.size();) {
        // Eight ASCII characters at a time: most texts are.
        uint64_t eight;
        if (i + 8 <= utf8.size() &&
            (std::memcpy(&eight, utf8.data() + i, 8), (eight & 0x8080808080808080ULL) == 0)) {
            eight = le64toh(eight);  // the first character in the low byte
            for (const uint64_t four : {eight & 0xFFFFFFFF, eight >> 32}) {
                uint64_t wide = (four | four << 16) & 0x0000FFFF0000FFFFULL;
                wide = (wide | wide << 8) & 0x00FF00FF00FF00FFULL;
                const uint64_t le = htole64(wide);
                std::memcpy(p, &le, 8);
                p += 8;
            }
            i += 8;
            continue;
        }
        if (uint8_t(utf8[i]) < 0x80) {
            *p++ = utf8[i++];
            *p++ = '\0';
            continue;
        }
        char32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            const char16_t high = char16_t(0xD800 + (cp >> 10)),
                           low = char16_t(0xDC00 + (cp & 0x3FF));
            *p++ = char(high & 0xFF);
            *p++ = char(high >> 8);
            *p++ = char(low & 0xFF);
            *p++ = char(low >> 8);
        } else {
            *p++ = char(cp & 0xFF);
            *p++ = char(cp >> 8);
        }
    }
    out.resize(size_t(p - out.data()));
}

void appendBigEndian(std::string& out, uint64_t v, int bytes) {
    char big[8];
    for (int i = 0; i < bytes; ++i) big[i] = char(v >> (8 * (bytes - 1 - i)) & 0xFF);
    out.append(big, size_t(bytes));
}

// What the rewriting read of the source's type from its spelling.
struct Source {
    std::string_view hint;
    bool varchar() const { return hint == "varchar"; }
    bool column() const { return hint == "column"; }
    bool real() const { return hint == "real"; }
    // Bytes of an integer source: int1..int8, or by its value.
    int integerBytes(int64_t n) const {
        if (hint.size() == 4 && hint.substr(0, 3) == "int") return hint[3] - '0';
        return n >= INT32_MIN && n <= INT32_MAX ? 4 : 8;
    }
};

// A value's bytes as SQL Server converts it to binary: a number big-endian
// (an integer in the bytes of its type, a float as its IEEE bits), a text
// as nvarchar (UTF-16LE) or varchar (CP1252), a uniqueidentifier column in
// its storage order. Tells whether the bytes are a number's.
bool binaryBytes(sqlite3_value* v, Source source, std::string& out) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER: {
            const int64_t n = sqlite3_value_int64(v);
            appendBigEndian(out, uint64_t(n), source.integerBytes(n));
            return true;
        }
        case SQLITE_FLOAT: {
            const double d = sqlite3_value_double(v);
            if (source.real()) {
                const auto f = float(d);
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                appendBigEndian(out, bits, 4);
            } else {
                uint64_t bits;
                std::memcpy(&bits, &d, 8);
                appendBigEndian(out, bits, 8);
            }
            return true;
        }
        case SQLITE_BLOB:
            out.append(blobOf(v));
            return false;
        default: {
            const std::string_view text = textOf(v);
            uint8_t guid[16];
            if (source.column() && text.size() == 36 && parseGuid(text, guid)) {
                out.append(reinterpret_cast<const char*>(guid), 16);
            } else if (source.varchar()) {
                for (size_t i = 0; i < text.size();)
                    out += uint8_t(text[i]) < 0x80 ? text[i++] : cp1252Byte(nextCodePoint(text, i));
            } else {
                appendUtf16le(out, text);
            }
            return false;
        }
    }
}

// The bytes from `from` on to the length of binary(n) (padded) or
// varbinary(n); n < 0 for max.
void fitBinary(std::string& bytes, size_t from, bool number, int64_t length, bool padded) {
    if (length < 0) return;
    const auto n = size_t(length);
    const size_t size = bytes.size() - from;
    if (number && size > n) bytes.erase(from, size - n);
    if (number && padded && size < n) bytes.insert(from, n - size, '\0');
    if (bytes.size() - from > n) bytes.resize(from + n);
    if (padded) bytes.resize(from + n, '\0');
}

// tds_binary(n, padded, 'source', x [, style]): CAST(x AS binary(n)) when
// padded, else varbinary(n). Numbers are cut and padded on the left, texts
// and binaries on the right.
void binaryCast(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* x = argv[3];
    if (sqlite3_value_type(x) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const int64_t length = sqlite3_value_int64(argv[0]);
    const bool padded = sqlite3_value_int(argv[1]) != 0;
    if (sqlite3_value_type(x) == SQLITE_INTEGER && length >= 0 && length <= 16) {
        // The common case, without the buffer: an integer into binary(n).
        const int64_t n = sqlite3_value_int64(x);
        const Source source{textOf(argv[2])};
        const int bytes = source.integerBytes(n);
        char out[16] = {};
        const int size = padded ? int(length) : std::min(int(length), bytes);
        for (int i = 0; i < std::min(size, bytes); ++i)
            out[size - 1 - i] = char(uint64_t(n) >> (8 * i) & 0xFF);
        return resultBytes(ctx, {out, size_t(size)});
    }
    std::string& bytes = scratch();
    const bool number = binaryBytes(x, {textOf(argv[2])}, bytes);
    fitBinary(bytes, 0, number, length, padded);
    resultBytes(ctx, bytes);
}

const char* integerTypeName(int bytes) {
    return bytes == 1 ? "tinyint" : bytes == 2 ? "smallint" : bytes == 4 ? "int" : "bigint";
}

// A conversion's failure, with SQL Server's number.
struct Failure {
    int number;
    std::string text;
};

// The range of tinyint, smallint, int or bigint, by its bytes.
int64_t integerLow(int bytes) {
    return bytes == 1 ? 0 : bytes == 2 ? INT16_MIN : bytes == 4 ? INT32_MIN : INT64_MIN;
}
int64_t integerHigh(int bytes) {
    return bytes == 1 ? 255 : bytes == 2 ? INT16_MAX : bytes == 4 ? INT32_MAX : INT64_MAX;
}

Failure integerOverflow(int bytes) {
    return Failure{8115,
                   std::string("Arithmetic overflow error converting expression to data type ") +
                       integerTypeName(bytes) + "."};
}

// A binary read as an integer of `bytes` bytes: big-endian from its last
// bytes, as SQL Server reads it.
int64_t integerOfBinary(std::string_view b, int bytes) {
    uint64_t u = 0;
    for (size_t i = b.size() > size_t(bytes) ? b.size() - size_t(bytes) : 0; i < b.size(); ++i)
        u = u << 8 | uint8_t(b[i]);
    // The sign bit of the type's own width.
    if (bytes > 1 && bytes < 8 && (u >> (8 * bytes - 1) & 1)) u |= ~0ULL << (8 * bytes);
    return int64_t(u);
}

// A text's digits as an integer of `bytes` bytes.
std::optional<Failure> integerOfText(std::string_view text, int bytes, int64_t& n) {
    std::string_view s = text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    std::string_view digits = s;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec == std::errc::result_out_of_range ||
        (ec == std::errc() && (n < integerLow(bytes) || n > integerHigh(bytes))))
        return Failure{248, "The conversion of the nvarchar value '" + std::string(s) +
                                "' overflowed an " + integerTypeName(bytes) + " column."};
    if (ec != std::errc() || p != digits.data() + digits.size() || digits.empty())
        return Failure{245, "Conversion failed when converting the nvarchar value '" +
                                std::string(text) + "' to data type " + integerTypeName(bytes) +
                                "."};
    return std::nullopt;
}

// CAST(x AS tinyint | smallint | int | bigint) of a value that is not NULL.
// What does not fit is an overflow, as there.
std::optional<Failure> toInteger(sqlite3_value* x, int bytes, int64_t& n) {
    switch (sqlite3_value_type(x)) {
        case SQLITE_BLOB:
            n = integerOfBinary(blobOf(x), bytes);
            return std::nullopt;
        case SQLITE_INTEGER:
            n = sqlite3_value_int64(x);
            break;
        case SQLITE_FLOAT: {
            const double d = std::trunc(sqlite3_value_double(x));  // toward zero, as there
            if (!(d >= double(integerLow(bytes)) && d < -double(INT64_MIN) &&
                  d <= double(integerHigh(bytes))))
                return integerOverflow(bytes);
            n = int64_t(d);
            break;
        }
        default:
            return integerOfText(textOf(x), bytes, n);
    }
    if (n < integerLow(bytes) || n > integerHigh(bytes)) return integerOverflow(bytes);
    return std::nullopt;
}

// tds_integer(bytes, x [, style]).
void integerCast(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    int64_t n = 0;
    if (auto failure = toInteger(argv[1], sqlite3_value_int(argv[0]), n))
        return fail(ctx, failure->number, failure->text);
    sqlite3_result_int64(ctx, n);
}

// SQLite's SUBSTRING(x, start, length) of a text, for a start and length
// of at least 1: characters by their UTF-8 lead bytes, up to a NUL.
std::string_view textSlice(const char* z, int64_t start, int64_t length) {
    auto skip = [](const char*& p) {
        if (uint8_t(*p++) >= 0xC0)
            while ((uint8_t(*p) & 0xC0) == 0x80) ++p;
    };
    for (int64_t k = start - 1; *z && k > 0; --k) skip(z);
    const char* end = z;
    for (int64_t k = length; *end && k > 0; --k) skip(end);
    return {z, size_t(end - z)};
}

// tds_integer_slice(bytes, x, start, length): CAST(SUBSTRING(x, start,
// length) AS int) and the others, start and length at least 1, reading the
// slice where it is: the checksum method's sums read two slices of every
// row's digest.
void integerSliceCast(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* x = argv[1];
    const int type = sqlite3_value_type(x);
    if (type == SQLITE_NULL) return sqlite3_result_null(ctx);
    const int bytes = sqlite3_value_int(argv[0]);
    const int64_t start = sqlite3_value_int64(argv[2]), length = sqlite3_value_int64(argv[3]);
    int64_t n = 0;
    if (type == SQLITE_BLOB) {
        const std::string_view b = blobOf(x);
        n = integerOfBinary(b.substr(std::min(size_t(start - 1), b.size()), size_t(length)), bytes);
    } else {
        const auto* z = reinterpret_cast<const char*>(sqlite3_value_text(x));
        if (auto failure = integerOfText(textSlice(z ? z : "", start, length), bytes, n))
            return fail(ctx, failure->number, failure->text);
    }
    sqlite3_result_int64(ctx, n);
}

// tds_text(n, x [, style]): CONVERT([n]varchar(n), x [, style]): the value's
// text, cut to n characters.
void textConvert(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* x = argv[1];
    if (sqlite3_value_type(x) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const int64_t length = sqlite3_value_int64(argv[0]);
    const std::string_view text = textOf(x);
    size_t end = text.size();
    if (length >= 0) {
        size_t i = 0;
        for (int64_t chars = 0; i < text.size() && chars < length; ++chars) nextCodePoint(text, i);
        end = i;
    }
    sqlite3_result_text64(ctx, text.data(), end, SQLITE_TRANSIENT, SQLITE_UTF8);
}

SqlValue storedValue(sqlite3_value* x) {
    SqlValue v;
    switch (sqlite3_value_type(x)) {
        case SQLITE_INTEGER:
            v.storage = Storage::Integer;
            v.integer = sqlite3_value_int64(x);
            break;
        case SQLITE_FLOAT:
            v.storage = Storage::Real;
            v.real = sqlite3_value_double(x);
            break;
        case SQLITE_BLOB:
            v.storage = Storage::Blob;
            v.bytes = blobOf(x);
            break;
        case SQLITE_TEXT:
            v.storage = Storage::Text;
            v.bytes = textOf(x);
            break;
        default:
            break;
    }
    return v;
}

// CAST(x AS decimal(p, s)) of a value that is not NULL, as CONVERT writes
// it: exactly s decimals, '0.50' and '-0.50', no sign for zero.
std::optional<Failure> appendDecimalText(sqlite3_value* x, int precision, int scale,
                                         std::string& out) {
    Scaled value;
    if (auto error = scaledAt(storedValue(x), scale, value))
        return Failure{error->number, error->message};
    static const auto kPowersOfTen = [] {
        std::array<unsigned __int128, 39> powers{};
        powers[0] = 1;
        for (size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
        return powers;
    }();
    if (value.magnitude >= kPowersOfTen[size_t(std::clamp(precision, 1, 38))])
        return Failure{8115, "Arithmetic overflow error converting numeric to data type numeric."};
    char digits[48];
    int count = 0;
    unsigned __int128 wide = value.magnitude;
    for (; wide > UINT64_MAX; wide /= 10) digits[count++] = char('0' + int(wide % 10));
    for (auto m = uint64_t(wide); m > 0 || count <= scale; m /= 10)
        digits[count++] = char('0' + int(m % 10));
    char text[52];
    size_t size = 0;
    if (value.negative && value.magnitude != 0) text[size++] = '-';
    for (int i = count - 1; i >= 0; --i) {
        text[size++] = digits[i];
        if (i == scale && scale > 0) text[size++] = '.';
    }
    out.append(text, size);
    return std::nullopt;
}

// tds_decimal_text(p, s, x [, style]).
void decimalText(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[2]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string& text = scratch();
    if (auto failure = appendDecimalText(argv[2], sqlite3_value_int(argv[0]),
                                         sqlite3_value_int(argv[1]), text))
        return fail(ctx, failure->number, failure->text);
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// Howard Hinnant's civil_from_days, from days since 0001-01-01.
void civilFromDays(int64_t daysSinceYearOne, int& year, int& month, int& day) {
    const int64_t z = daysSinceYearOne - 719162 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2));
}

// CAST(x AS datetime2(n)) of a value that is not NULL, as style 121 writes
// it, 'yyyy-mm-dd hh:mi:ss.fffffff': a date is its midnight, a time is on
// 1900-01-01, fractions round to n digits.
// datetime keeps 1/300 s: the fraction of a second (in 100 ns) such a value
// holds, as a conversion to datetime2(7) shows it (from compatibility level
// 130 on), 10,000,000 when it rounds up into the next second.
int64_t datetimeTicksFraction(int64_t fraction) {
    const int64_t ticks = (fraction * 300 + 5000000) / 10000000;
    return (ticks * 10000000 + 150) / 300;
}

// A fraction (100 ns) rounded to n digits, still in 100 ns.
int64_t roundedFraction(int64_t fraction, int digits) {
    int64_t unit = 1;
    for (int i = digits; i < 7; ++i) unit *= 10;
    return (fraction + unit / 2) / unit * unit;
}

std::optional<Failure> appendDateTimeText(sqlite3_value* x, int digits, std::string& out,
                                          bool datetimeTicks = false, int precision = 7) {
    const int type = sqlite3_value_type(x);
    if (type != SQLITE_TEXT)
        return Failure{529, std::string("Explicit conversion from data type ") +
                                (type == SQLITE_BLOB    ? "varbinary"
                                 : type == SQLITE_FLOAT ? "float"
                                                        : "int") +
                                " to datetime2 is not allowed."};
    DateTimeParts p;
    if (!parseDateTime(textOf(x), p))
        return Failure{241,
                       "Conversion failed when converting date and/or time from character string."};
    if (datetimeTicks) p.fraction = uint32_t(datetimeTicksFraction(p.fraction));
    // Through a narrower datetime2 first: rounded there, then written at `digits`.
    if (precision < 7) p.fraction = uint32_t(roundedFraction(p.fraction, precision));
    digits = std::clamp(digits, 0, 7);
    uint32_t unit = 1;
    for (int i = digits; i < 7; ++i) unit *= 10;
    int64_t fraction = (p.fraction + unit / 2) / unit;
    int64_t seconds = p.hour * 3600 + p.minute * 60 + p.second;
    int year = p.year, month = p.month, day = p.day;
    if (fraction * unit >= 10000000) {  // rounded up into the next second
        fraction = 0;
        if (++seconds == 86400) {
            seconds = 0;
            civilFromDays(daysSinceYearOne(year, month, day) + 1, year, month, day);
        }
    }
    if (year < 0 || year > 9999) {  // rounded past 9999-12-31: no fixed width
        char text[40];
        int size =
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
                          int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
        if (digits > 0)
            size += std::snprintf(text + size, sizeof text - size_t(size), ".%0*lld", digits,
                                  (long long)fraction);
        out.append(text, size_t(size));
        return std::nullopt;
    }
    // Digit by digit: this runs for every row a checksum hashes.
    char text[28];
    char* end = text;
    auto put = [&end](int64_t value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10) end[i] = char('0' + value % 10);
        end += width;
    };
    put(year, 4);
    *end++ = '-';
    put(month, 2);
    *end++ = '-';
    put(day, 2);
    *end++ = ' ';
    put(seconds / 3600, 2);
    *end++ = ':';
    put(seconds / 60 % 60, 2);
    *end++ = ':';
    put(seconds % 60, 2);
    if (digits > 0) {
        *end++ = '.';
        put(fraction, digits);
    }
    out.append(text, size_t(end - text));
    return std::nullopt;
}

// tds_datetime_text(n, x [, style]).
void dateTimeText(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string& text = scratch();
    if (auto failure = appendDateTimeText(argv[1], sqlite3_value_int(argv[0]), text))
        return fail(ctx, failure->number, failure->text);
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

const char* storageTypeName(int type) {
    return type == SQLITE_TEXT ? "nvarchar" : type == SQLITE_FLOAT ? "float" : "int";
}

// tds_concat(a, b, ...): + between binaries joins their bytes; NULL
// anywhere gives NULL. SQL Server refuses + between binary and text.
void binaryConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    std::string& bytes = scratch();
    bool null = false;
    for (int i = 0; i < argc; ++i) {
        const int type = sqlite3_value_type(argv[i]);
        if (type == SQLITE_NULL) {
            null = true;
        } else if (type != SQLITE_BLOB) {
            return fail(ctx, 402,
                        std::string("The data types varbinary and ") + storageTypeName(type) +
                            " are incompatible in the add operator.");
        } else if (!null) {
            bytes.append(blobOf(argv[i]));
        }
    }
    if (null) return sqlite3_result_null(ctx);
    resultBytes(ctx, bytes);
}

enum class Digest { Unknown, Sha256, Sha512, Sha1, Md5 };

Digest digestNamed(std::string_view name) {
    if (equalsIgnoreCase(name, "SHA2_256")) return Digest::Sha256;
    if (equalsIgnoreCase(name, "SHA2_512")) return Digest::Sha512;
    if (equalsIgnoreCase(name, "SHA1") || equalsIgnoreCase(name, "SHA")) return Digest::Sha1;
    if (equalsIgnoreCase(name, "MD5")) return Digest::Md5;
    return Digest::Unknown;
}

// One digest computed over bytes given in turn.
class Hasher {
public:
    explicit Hasher(Digest digest) : digest_(digest) {
        switch (digest_) {
            case Digest::Sha256:
                sha256_init(&c_.sha256);
                break;
            case Digest::Sha512:
                sha512_init(&c_.sha512);
                break;
            case Digest::Sha1:
                sha1_init(&c_.sha1);
                break;
            default:
                md5_init(&c_.md5);
                break;
        }
    }
    void update(std::string_view input) {
        const auto* data = reinterpret_cast<const uint8_t*>(input.data());
        switch (digest_) {
            case Digest::Sha256:
                return sha256_update(&c_.sha256, input.size(), data);
            case Digest::Sha512:
                return sha512_update(&c_.sha512, input.size(), data);
            case Digest::Sha1:
                return sha1_update(&c_.sha1, input.size(), data);
            default:
                return md5_update(&c_.md5, input.size(), data);
        }
    }
    // The digest as the function's result.
    void result(sqlite3_context* ctx) {
        uint8_t out[SHA512_DIGEST_SIZE];
        size_t size = 0;
        switch (digest_) {
            case Digest::Sha256:
                sha256_digest(&c_.sha256, size = SHA256_DIGEST_SIZE, out);
                break;
            case Digest::Sha512:
                sha512_digest(&c_.sha512, size = SHA512_DIGEST_SIZE, out);
                break;
            case Digest::Sha1:
                sha1_digest(&c_.sha1, size = SHA1_DIGEST_SIZE, out);
                break;
            default:
                md5_digest(&c_.md5, size = MD5_DIGEST_SIZE, out);
                break;
        }
        sqlite3_result_blob(ctx, out, int(size), SQLITE_TRANSIENT);
    }

private:
    Digest digest_;
    union {
        sha256_ctx sha256;
        sha512_ctx sha512;
        sha1_ctx sha1;
        md5_ctx md5;
    } c_;
};

// What a statement's call reads once from a constant argument (the
// algorithm's name, a row's field kinds) and keeps for its other rows;
// nullptr when out of memory.
template <typename T, typename Read>
const T* constantArgument(sqlite3_context* ctx, int arg, Read read) {
    if (auto* kept = static_cast<const T*>(sqlite3_get_auxdata(ctx, arg))) return kept;
    sqlite3_set_auxdata(ctx, arg, new T(read()), [](void* p) { delete static_cast<T*>(p); });
    return static_cast<const T*>(sqlite3_get_auxdata(ctx, arg));
}

const Digest* digestOf(sqlite3_context* ctx, sqlite3_value** argv) {
    return constantArgument<Digest>(ctx, 0, [&] { return digestNamed(textOf(argv[0])); });
}

// HASHBYTES(algorithm, x): the digest of x's bytes (a text's as nvarchar;
// the rewriting hands a varchar over as its bytes). NULL for NULL and for
// an algorithm SQL Server does not know. HASHBYTES(algorithm, a, b, ...)
// hashes the binaries a + b + ... without joining them first.
void hashBytes(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 2) return fail(ctx, 174, "The hashbytes function requires 2 argument(s).");
    const Digest* digest = digestOf(ctx, argv);
    if (!digest) return sqlite3_result_error_nomem(ctx);
    for (int i = 1; i < argc; ++i) {
        const int type = sqlite3_value_type(argv[i]);
        if (type == SQLITE_NULL) return sqlite3_result_null(ctx);
        if (argc > 2 && type != SQLITE_BLOB)
            return fail(ctx, 402,
                        std::string("The data types varbinary and ") + storageTypeName(type) +
                            " are incompatible in the add operator.");
    }
    if (*digest == Digest::Unknown) return sqlite3_result_null(ctx);
    Hasher hasher(*digest);
    std::string& converted = scratch();
    for (int i = 1; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_BLOB) {
            hasher.update(blobOf(argv[i]));
        } else {
            converted.clear();
            binaryBytes(argv[i], {}, converted);
            hasher.update(converted);
        }
    }
    hasher.result(ctx);
}

// DATALENGTH(x) of a value that is not NULL: a blob's bytes, a text's as
// nvarchar (two per UTF-16 code unit), a number's as int (4) or bigint and
// float (8).
int64_t dataLengthOf(sqlite3_value* x) {
    switch (sqlite3_value_type(x)) {
        case SQLITE_BLOB:
            return sqlite3_value_bytes(x);
        case SQLITE_TEXT:
            return int64_t(2 * utf16Length(textOf(x)));
        default: {
            const int64_t n = sqlite3_value_int64(x);
            const bool small =
                sqlite3_value_type(x) == SQLITE_INTEGER && n >= INT32_MIN && n <= INT32_MAX;
            return small ? 4 : 8;
        }
    }
}

void dataLength(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, dataLengthOf(argv[0]));
}

// One column's field of the checksum method's row encoding (Tsql.h lists
// the kinds); the scale is a decimal's.
struct FieldKind {
    char kind = 'i';
    int scale = 0;
};

// Appends the bytes of
//   case when x is null then 0x00 else 0x01 + <the kind's encoding> end
std::optional<Failure> appendChecksumField(FieldKind field, sqlite3_value* x, std::string& bytes) {
    if (sqlite3_value_type(x) == SQLITE_NULL) {
        bytes += '\0';
        return std::nullopt;
    }
    bytes += '\x01';
    std::optional<Failure> failure;
    switch (field.kind) {
        case 'i': {  // CAST(CAST(x AS bigint) AS binary(8))
            int64_t n = 0;
            if (sqlite3_value_type(x) == SQLITE_INTEGER)  // fits: no conversion
                n = sqlite3_value_int64(x);
            else
                failure = toInteger(x, 8, n);
            appendBigEndian(bytes, uint64_t(n), 8);
            break;
        }
        case 'f': {  // CAST(CAST(x AS float) AS binary(8)), SQLite's CAST to float
            const double d = sqlite3_value_double(x);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            appendBigEndian(bytes, bits, 8);
            break;
        }
        case 'd':  // CONVERT(varchar(41), CAST(x AS decimal(38, s))) + 0x00
            failure = appendDecimalText(x, 38, field.scale, bytes);
            bytes += '\0';
            break;
        case 't':  // CONVERT(varchar(27), CAST(x AS datetime2(7)), 121) + 0x00
        case 'u':  // the same of a datetime column, which holds 1/300 s
            failure = appendDateTimeText(x, 7, bytes, field.kind == 'u');
            bytes += '\0';
            break;
        case 'm':  // CONVERT(varchar(27), CAST(CAST(x AS datetime2(3)) AS datetime2(7)), 121) +
                   // 0x00
        case 'n':  // the same of a datetime column
            failure = appendDateTimeText(x, 7, bytes, field.kind == 'n', 3);
            bytes += '\0';
            break;
        case 's': {  // length (4 bytes) + CAST(CAST(x AS nvarchar(max)) AS varbinary(max))
            // SQLite's CAST to text; the length is known once it is written.
            const size_t length = bytes.size();
            bytes.append(4, '\0');
            appendUtf16le(bytes, textOf(x));
            const auto written = uint64_t(bytes.size() - length - 4);
            for (int i = 0; i < 4; ++i) bytes[length + size_t(i)] = char(written >> (24 - 8 * i));
            break;
        }
        case 'b':  // DATALENGTH(x) (4 bytes) + CAST(x AS varbinary(max))
            appendBigEndian(bytes, uint64_t(dataLengthOf(x)), 4);
            binaryBytes(x, {"column"}, bytes);
            break;
        default: {  // 'g': CAST(x AS binary(16))
            const size_t from = bytes.size();
            const bool number = binaryBytes(x, {"column"}, bytes);
            fitBinary(bytes, from, number, 16, true);
            break;
        }
    }
    return failure;
}

// tds_field('kind', x [, scale]): one field in one call.
void checksumField(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const std::string_view kind = textOf(argv[0]);
    const FieldKind field{kind.empty() ? ' ' : kind[0], argc > 2 ? sqlite3_value_int(argv[2]) : 0};
    std::string& bytes = scratch();
    if (auto failure = appendChecksumField(field, argv[1], bytes))
        return fail(ctx, failure->number, failure->text);
    resultBytes(ctx, bytes);
}

// The kinds of a row's fields, as tds_row_hash spells them: "i d4 s".
std::vector<FieldKind> fieldKinds(std::string_view spelled) {
    std::vector<FieldKind> kinds;
    for (size_t i = 0; i < spelled.size(); ++i) {
        if (spelled[i] == ' ') continue;
        FieldKind k{spelled[i], 0};
        std::from_chars(spelled.data() + i + 1, spelled.data() + spelled.size(), k.scale);
        kinds.push_back(k);
        while (i + 1 < spelled.size() && spelled[i + 1] != ' ') ++i;
    }
    return kinds;
}

// tds_row_hash(algorithm, 'kinds', x1, x2, ...): HASHBYTES of the whole row
// encoding, the empty start followed by each column's field, in one call
// and without a value per field.
void rowHash(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 2) return sqlite3_result_error(ctx, "tds_row_hash: no kinds", -1);
    const Digest* digest = digestOf(ctx, argv);
    const auto* kinds = constantArgument<std::vector<FieldKind>>(
        ctx, 1, [&] { return fieldKinds(textOf(argv[1])); });
    if (!digest || !kinds) return sqlite3_result_error_nomem(ctx);
    if (kinds->size() != size_t(argc - 2))
        return sqlite3_result_error(ctx, "tds_row_hash: one kind per field", -1);
    std::string& bytes = scratch();
    for (size_t i = 0; i < kinds->size(); ++i) {
        if (auto failure = appendChecksumField((*kinds)[i], argv[i + 2], bytes))
            return fail(ctx, failure->number, failure->text);
    }
    if (*digest == Digest::Unknown) return sqlite3_result_null(ctx);
    Hasher hasher(*digest);
    hasher.update(bytes);
    hasher.result(ctx);
}

}  // namespace

std::string numberedError(int number, std::string_view text) {
    return std::string(kErrorPrefix) + std::to_string(number) + ": " + std::string(text);
}

bool readNumberedError(std::string_view message, int& number, std::string& text) {
    if (message.substr(0, kErrorPrefix.size()) != kErrorPrefix) return false;
    message.remove_prefix(kErrorPrefix.size());
    auto [p, ec] = std::from_chars(message.data(), message.data() + message.size(), number);
    if (ec != std::errc() || message.substr(size_t(p - message.data()), 2) != ": ") return false;
    text = std::string(message.substr(size_t(p - message.data()) + 2));
    return true;
}

void registerConversions(sqlite3* db) {
    constexpr int kPure = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    struct Function {
        const char* name;
        int args;  // those before the value; a style may follow it
        void (*call)(sqlite3_context*, int, sqlite3_value**);
    };
    const Function conversions[] = {
        {kBinaryCastFunction, 3, binaryCast},     {kIntegerCastFunction, 1, integerCast},
        {kTextConvertFunction, 1, textConvert},   {kDecimalTextFunction, 2, decimalText},
        {kDateTimeTextFunction, 1, dateTimeText},
    };
    for (const Function& f : conversions) {
        sqlite3_create_function(db, f.name, f.args + 1, kPure, nullptr, f.call, nullptr, nullptr);
        sqlite3_create_function(db, f.name, f.args + 2, kPure, nullptr, f.call, nullptr, nullptr);
    }
    sqlite3_create_function(db, kBinaryConcatFunction, -1, kPure, nullptr, binaryConcat, nullptr,
                            nullptr);
    sqlite3_create_function(db, "hashbytes", -1, kPure, nullptr, hashBytes, nullptr, nullptr);
    sqlite3_create_function(db, "datalength", 1, kPure, nullptr, dataLength, nullptr, nullptr);
    for (int args : {2, 3})
        sqlite3_create_function(db, kChecksumFieldFunction, args, kPure, nullptr, checksumField,
                                nullptr, nullptr);
    sqlite3_create_function(db, kIntegerSliceFunction, 4, kPure, nullptr, integerSliceCast, nullptr,
                            nullptr);
    sqlite3_create_function(db, kRowHashFunction, -1, kPure, nullptr, rowHash, nullptr, nullptr);
}

}  // namespace tds
