#include "Values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tds {

namespace {

// SQL_Latin1_General_CP1_CI_AS, as the login reply announces it.
const uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// isspace() of the C locale, inline: trim runs for every decimal and date.
bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim(std::string_view s) {
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// 10^k for k = 0..38.
struct PowersOfTen {
    unsigned __int128 value[39];
    constexpr PowersOfTen() : value{} {
        value[0] = 1;
        for (int k = 1; k < 39; ++k) value[k] = value[k - 1] * 10;
    }
};
constexpr PowersOfTen kPow10;

ColumnType make(Kind kind, uint8_t size = 0) {
    ColumnType t;
    t.kind = kind;
    t.size = size;
    return t;
}

ColumnType text(Kind kind, long n, long maxN) {
    ColumnType t = make(kind);
    bool variable = kind == Kind::VarChar || kind == Kind::NVarChar || kind == Kind::VarBinary;
    if (n == -1 || n > maxN) {
        if (variable) {
            t.max = true;
            n = 0;
        } else {
            n = maxN;
        }
    }
    t.length = uint32_t(n < 1 && !t.max ? 1 : n);
    return t;
}

}  // namespace

uint8_t ColumnType::tdsType() const {
    switch (kind) {
        case Kind::Int:
            return 0x26;
        case Kind::Bit:
            return 0x68;
        case Kind::Decimal:
            return numericKeyword ? 0x6C : 0x6A;
        case Kind::Money:
            return 0x6E;
        case Kind::Float:
            return 0x6D;
        case Kind::Date:
            return 0x28;
        case Kind::Time:
            return 0x29;
        case Kind::DateTime:
            return 0x6F;
        case Kind::DateTime2:
            return 0x2A;
        case Kind::Char:
            return 0xAF;
        case Kind::VarChar:
            return 0xA7;
        case Kind::NChar:
            return 0xEF;
        case Kind::NVarChar:
            return 0xE7;
        case Kind::Binary:
            return 0xAD;
        case Kind::VarBinary:
            return 0xA5;
        case Kind::Guid:
            return 0x24;
    }
    return 0;
}

std::optional<ColumnType> parseDeclaredType(std::string_view declared) {
    std::string s = toLower(trim(declared));
    size_t i = 0;
    while (i < s.size() && (std::isalnum(uint8_t(s[i])) || s[i] == '_')) ++i;
    std::string name = s.substr(0, i);
    // "double precision" is the one two-word name worth knowing.
    if (name == "double") name = "float";
    while (i < s.size() && s[i] == ' ') ++i;
    std::vector<long> args;
    bool hasArgs = false;
    if (i < s.size() && s[i] == '(') {
        hasArgs = true;
        size_t close = s.find(')', i);
        if (close == std::string::npos) return std::nullopt;
        std::string_view inner(s.data() + i + 1, close - i - 1);
        while (!inner.empty()) {
            size_t comma = inner.find(',');
            std::string_view part = trim(inner.substr(0, comma));
            long v = 0;
            if (part == "max") {
                v = -1;
            } else {
                auto [p, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
                if (ec != std::errc() || p != part.data() + part.size()) return std::nullopt;
            }
            args.push_back(v);
            if (comma == std::string_view::npos) break;
            inner.remove_prefix(comma + 1);
        }
    }
    auto arg = [&](size_t k, long dflt) { return k < args.size() ? args[k] : dflt; };

    if (name == "int" || name == "integer") return make(Kind::Int, 4);
    if (name == "bigint") return make(Kind::Int, 8);
    if (name == "smallint") return make(Kind::Int, 2);
    if (name == "tinyint") return make(Kind::Int, 1);
    if (name == "bit") return make(Kind::Bit, 1);
    if (name == "decimal" || name == "dec" || name == "numeric") {
        long p = arg(0, 18), sc = arg(1, 0);
        if (p < 1 || p > 38 || sc < 0 || sc > p) return std::nullopt;
        ColumnType t = make(Kind::Decimal);
        t.precision = uint8_t(p);
        t.scale = uint8_t(sc);
        t.numericKeyword = name == "numeric";
        return t;
    }
    if (name == "money") return make(Kind::Money, 8);
    if (name == "smallmoney") return make(Kind::Money, 4);
    if (name == "float") return make(Kind::Float, hasArgs && arg(0, 53) <= 24 ? 4 : 8);
    if (name == "real") return make(Kind::Float, 4);
    if (name == "date") return make(Kind::Date);
    if (name == "time" || name == "datetime2") {
        long sc = arg(0, 7);
        if (sc < 0 || sc > 7) return std::nullopt;
        ColumnType t = make(name == "time" ? Kind::Time : Kind::DateTime2);
        t.scale = uint8_t(sc);
        return t;
    }
    if (name == "datetime") return make(Kind::DateTime, 8);
    if (name == "smalldatetime") return make(Kind::DateTime, 4);
    if (name == "char" || name == "character") return text(Kind::Char, arg(0, 1), 8000);
    if (name == "varchar") return text(Kind::VarChar, arg(0, 1), 8000);
    if (name == "nchar") return text(Kind::NChar, arg(0, 1), 4000);
    if (name == "nvarchar") return text(Kind::NVarChar, arg(0, 1), 4000);
    if (name == "sysname") return text(Kind::NVarChar, 128, 4000);
    if (name == "binary") return text(Kind::Binary, arg(0, 1), 8000);
    if (name == "varbinary") return text(Kind::VarBinary, arg(0, 1), 8000);
    if (name == "rowversion" || name == "timestamp") return text(Kind::Binary, 8, 8000);
    // The legacy large types travel as their (max) successors.
    if (name == "text") return text(Kind::VarChar, -1, 8000);
    if (name == "ntext") return text(Kind::NVarChar, -1, 4000);
    if (name == "image") return text(Kind::VarBinary, -1, 8000);
    if (name == "uniqueidentifier") return make(Kind::Guid, 16);
    return std::nullopt;
}

namespace {

// The words of a declared type, lower case: "int identity(1,1)" -> int,
// identity, 1, 1.
std::vector<std::string> typeWords(std::string_view declared) {
    std::vector<std::string> words;
    std::string word;
    for (char c : declared) {
        if (std::isalnum(uint8_t(c)) || c == '_') {
            word += char(std::tolower(uint8_t(c)));
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

}  // namespace

uint8_t systemTypeId(std::string_view declared) {
    static const std::pair<const char*, uint8_t> kIds[] = {
        {"int", 56},           {"integer", 56},     {"bigint", 127},
        {"smallint", 52},      {"tinyint", 48},     {"bit", 104},
        {"decimal", 106},      {"dec", 106},        {"numeric", 108},
        {"money", 60},         {"smallmoney", 122}, {"float", 62},
        {"double", 62},        {"real", 59},        {"date", 40},
        {"time", 41},          {"datetime", 61},    {"datetime2", 42},
        {"smalldatetime", 58}, {"char", 175},       {"character", 175},
        {"varchar", 167},      {"nchar", 239},      {"nvarchar", 231},
        {"sysname", 231},      {"text", 35},        {"ntext", 99},
        {"binary", 173},       {"varbinary", 165},  {"image", 34},
        {"rowversion", 189},   {"timestamp", 189},  {"uniqueidentifier", 36},
    };
    const std::vector<std::string> words = typeWords(declared);
    if (words.empty()) return 0;
    for (const auto& [name, id] : kIds)
        if (words[0] == name) return id;
    return 0;
}

bool declaresIdentity(std::string_view declared) {
    for (const std::string& word : typeWords(declared))
        if (word == "identity") return true;
    return false;
}

ColumnType typeForStorage(Storage storage) {
    switch (storage) {
        case Storage::Integer:
            return make(Kind::Int, 8);
        case Storage::Real:
            return make(Kind::Float, 8);
        case Storage::Blob:
            return text(Kind::VarBinary, -1, 8000);
        case Storage::Text:
        case Storage::Null:
            break;
    }
    return text(Kind::NVarChar, -1, 4000);
}

void writeTypeInfo(Sink& out, const ColumnType& t) {
    out.u8(t.tdsType());
    switch (t.kind) {
        case Kind::Int:
        case Kind::Money:
        case Kind::Float:
        case Kind::DateTime:
        case Kind::Bit:
        case Kind::Guid:
            out.u8(t.kind == Kind::Bit ? 1 : t.size);
            break;
        case Kind::Decimal:
            out.u8(t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17);
            out.u8(t.precision);
            out.u8(t.scale);
            break;
        case Kind::Date:
            break;
        case Kind::Time:
        case Kind::DateTime2:
            out.u8(t.scale);
            break;
        case Kind::Char:
        case Kind::VarChar:
            out.u16le(t.max ? 0xFFFF : uint16_t(t.length));
            out.write(kCollation, 5);
            break;
        case Kind::NChar:
        case Kind::NVarChar:
            out.u16le(t.max ? 0xFFFF : uint16_t(2 * t.length));
            out.write(kCollation, 5);
            break;
        case Kind::Binary:
        case Kind::VarBinary:
            out.u16le(t.max ? 0xFFFF : uint16_t(t.length));
            break;
    }
}

bool parseScaled(std::string_view input, int scale, Scaled& out) {
    std::string_view s = trim(input);
    out = Scaled{};
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';
    // The significant digits without leading zeros. Only the first kKeep can
    // matter: a result needs at most 38 of them plus the one that rounds.
    constexpr size_t kKeep = 64;
    char digits[kKeep];
    size_t count = 0;  // all significant digits, kept or not
    int fracDigits = 0;
    bool seenDigit = false, seenPoint = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            seenDigit = true;
            if (!(count == 0 && c == '0')) {
                if (count < kKeep) digits[count] = c;
                ++count;
            }
            if (seenPoint) ++fracDigits;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit) return false;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negExp = s[i++] == '-';
        size_t start = i;
        while (i < s.size() && std::isdigit(uint8_t(s[i])) && exponent < 100000)
            exponent = exponent * 10 + (s[i++] - '0');
        if (i == start) return false;
        if (negExp) exponent = -exponent;
    }
    if (i != s.size()) return false;
    // digits holds the significant digits without leading zeros; a fractional
    // digit counts even when it was a leading zero.
    long shift = exponent - long(fracDigits) + scale;
    bool roundUp = false;
    if (shift < 0) {
        long drop = -shift;
        if (drop > long(count)) {
            count = 0;
        } else {
            count -= size_t(drop);
            // The first dropped digit decides; past kKeep the kept part is
            // too long anyway (checked below).
            roundUp = count < kKeep && digits[count] >= '5';
        }
        // A dropped run that began beyond the kept digits cannot reach one half.
        shift = 0;
    }
    if (count == 0) {
        out.magnitude = roundUp ? 1 : 0;
        out.negative = out.negative && roundUp;
        return true;
    }
    if (long(count) + shift > 38) return false;
    unsigned __int128 v = 0;
    for (size_t k = 0; k < count; ++k) v = v * 10 + unsigned(digits[k] - '0');
    v *= kPow10.value[shift];  // count + shift <= 38
    if (roundUp) v += 1;
    out.magnitude = v;
    if (v == 0) out.negative = false;
    return true;
}

int64_t daysSinceYearOne(int y, int m, int d) {
    // Howard Hinnant's days_from_civil, shifted to 0001-01-01.
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t fromEpoch = era * 146097 + doe - 719468;
    return fromEpoch + 719162;  // 0001-01-01 is 719162 days before 1970-01-01
}

namespace {

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

bool readNumber(std::string_view s, size_t& i, size_t count, int& out) {
    if (i + count > s.size()) return false;
    out = 0;
    for (size_t k = 0; k < count; ++k) {
        char c = s[i + k];
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    i += count;
    return true;
}

bool parseTimePart(std::string_view s, size_t& i, DateTimeParts& out) {
    if (!readNumber(s, i, 2, out.hour) || i >= s.size() || s[i++] != ':' ||
        !readNumber(s, i, 2, out.minute))
        return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!readNumber(s, i, 2, out.second)) return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            uint32_t frac = 0;
            int n = 0;
            while (i < s.size() && std::isdigit(uint8_t(s[i]))) {
                if (n < 7) {
                    frac = frac * 10 + uint32_t(s[i] - '0');
                    ++n;
                }
                ++i;
            }
            if (n == 0) return false;
            for (; n < 7; ++n) frac *= 10;
            out.fraction = frac;
        }
    }
    out.hasTime = true;
    return out.hour < 24 && out.minute < 60 && out.second < 60;
}

}  // namespace

bool parseDateTime(std::string_view input, DateTimeParts& out) {
    std::string_view s = trim(input);
    out = DateTimeParts{};
    size_t i = 0;
    if (s.size() >= 10 && s[4] == '-') {
        if (!readNumber(s, i, 4, out.year) || s[i++] != '-' || !readNumber(s, i, 2, out.month) ||
            s[i++] != '-' || !readNumber(s, i, 2, out.day))
            return false;
        if (out.year < 1 || out.month < 1 || out.month > 12 || out.day < 1 ||
            out.day > daysInMonth(out.year, out.month))
            return false;
        out.hasDate = true;
        if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
            ++i;
            if (!parseTimePart(s, i, out)) return false;
        }
    } else if (!parseTimePart(s, i, out)) {
        return false;
    }
    if (i < s.size() && s[i] == 'Z') ++i;
    return i == s.size();
}

bool parseGuid(std::string_view input, uint8_t wire[16]) {
    std::string_view s = trim(input);
    if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
    if (s.size() != 36) return false;
    uint8_t canonical[16];
    size_t k = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i++] != '-') return false;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            c = char(std::tolower(uint8_t(c)));
            return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        int hi = hex(s[i]), lo = hex(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        canonical[k++] = uint8_t(hi << 4 | lo);
        i += 2;
    }
    // The first three groups travel little-endian.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int j = 0; j < 16; ++j) wire[j] = canonical[order[j]];
    return true;
}

namespace {

std::string typeName(const ColumnType& t) {
    switch (t.kind) {
        case Kind::Int:
            return t.size == 1   ? "tinyint"
                   : t.size == 2 ? "smallint"
                   : t.size == 4 ? "int"
                                 : "bigint";
        case Kind::Bit:
            return "bit";
        case Kind::Decimal:
            return t.numericKeyword ? "numeric" : "decimal";
        case Kind::Money:
            return t.size == 4 ? "smallmoney" : "money";
        case Kind::Float:
            return t.size == 4 ? "real" : "float";
        case Kind::Date:
            return "date";
        case Kind::Time:
            return "time";
        case Kind::DateTime:
            return t.size == 4 ? "smalldatetime" : "datetime";
        case Kind::DateTime2:
            return "datetime2";
        case Kind::Char:
            return "char";
        case Kind::VarChar:
            return "varchar";
        case Kind::NChar:
            return "nchar";
        case Kind::NVarChar:
            return "nvarchar";
        case Kind::Binary:
            return "binary";
        case Kind::VarBinary:
            return "varbinary";
        case Kind::Guid:
            return "uniqueidentifier";
    }
    return "?";
}

ConversionError conversionFailed(const ColumnType& t, std::string_view text) {
    return {245, "Conversion failed when converting the nvarchar value '" + std::string(text) +
                     "' to data type " + typeName(t) + "."};
}

ConversionError overflow(const ColumnType& t) {
    return {8115,
            "Arithmetic overflow error converting expression to data type " + typeName(t) + "."};
}

ConversionError notAllowed(const ColumnType& t, const char* from) {
    return {257, std::string("Implicit conversion from data type ") + from + " to " + typeName(t) +
                     " is not allowed. Use the CONVERT function to run this query."};
}

void writeNull(GrowBuffer& out, const ColumnType& t) {
    switch (t.kind) {
        case Kind::Char:
        case Kind::VarChar:
        case Kind::NChar:
        case Kind::NVarChar:
        case Kind::Binary:
        case Kind::VarBinary:
            if (t.max) {
                out.u64le(~uint64_t(0));
            } else {
                out.u16le(0xFFFF);
            }
            break;
        default:
            out.u8(0);
    }
}

void writePlp(GrowBuffer& out, const uint8_t* data, size_t size) {
    out.u64le(size);
    constexpr size_t kChunk = 32768;
    for (size_t done = 0; done < size; done += kChunk) {
        size_t n = std::min(kChunk, size - done);
        out.u32le(uint32_t(n));
        out.write(data + done, n);
    }
    out.u32le(0);
}

void writeLittleEndian(GrowBuffer& out, unsigned __int128 v, size_t bytes) {
    out.littleEndian(uint64_t(v), std::min<size_t>(bytes, 8));
    if (bytes > 8) out.littleEndian(uint64_t(v >> 64), bytes - 8);
}

std::optional<ConversionError> encodeInt(GrowBuffer& out, const ColumnType& t, const SqlValue& v) {
    int64_t x = 0;
    if (v.storage == Storage::Integer) {
        x = v.integer;
    } else if (v.storage == Storage::Real) {
        if (!std::isfinite(v.real) || std::fabs(v.real) >= 9.3e18) return overflow(t);
        x = int64_t(v.real);  // SQL Server truncates toward zero
    } else if (v.storage == Storage::Text) {
        std::string_view s = trim(v.bytes);
        if (!s.empty() && s.front() == '+') s.remove_prefix(1);
        auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
        if (ec == std::errc::result_out_of_range) return overflow(t);
        if (ec != std::errc() || p != s.data() + s.size() || s.empty())
            return conversionFailed(t, v.bytes);
    } else {
        return notAllowed(t, "varbinary");
    }
    int64_t lo = t.size == 1 ? 0 : t.size == 2 ? -32768 : t.size == 4 ? INT32_MIN : INT64_MIN;
    int64_t hi = t.size == 1 ? 255 : t.size == 2 ? 32767 : t.size == 4 ? INT32_MAX : INT64_MAX;
    if (x < lo || x > hi) return overflow(t);
    out.u8(t.size);
    out.littleEndian(static_cast<uint64_t>(x), t.size);
    return std::nullopt;
}

// The common case of a double at a scale, without text: when |d| * 10^scale
// is below 2^52, at most one multiple of 10^-scale reads back as d, so if
// m * 10^-scale does (m the nearest integer to d * 10^scale; the division of
// two exact doubles is correctly rounded), the shortest spelling of d is that
// multiple and rounds to m itself. Anything else takes the path through text.
bool exactScaled(double d, int scale, Scaled& out) {
    static constexpr double kPow10d[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (scale < 0 || scale > 22) return false;
    const double p = kPow10d[scale];
    const double scaled = std::fabs(d) * p;
    if (!(scaled < 4503599627370496.0)) return false;  // 2^52
    const double m = std::nearbyint(scaled);
    if (m / p != std::fabs(d)) return false;
    out.magnitude = static_cast<unsigned __int128>(static_cast<uint64_t>(m));
    out.negative = d < 0 && m != 0;
    return true;
}

// Stored numbers and text -> exact unscaled value at the given scale.
std::optional<ConversionError> scaledValue(const ColumnType& t, const SqlValue& v, int scale,
                                           Scaled& out) {
    char chars[64];
    std::string_view text;
    if (v.storage == Storage::Integer) {
        auto [p, ec] = std::to_chars(chars, chars + sizeof chars, v.integer);
        text = std::string_view(chars, size_t(p - chars));
    } else if (v.storage == Storage::Real) {
        if (!std::isfinite(v.real)) return overflow(t);
        if (exactScaled(v.real, scale, out)) return std::nullopt;
        // The shortest text that reads back as the same double: what was
        // inserted, as long as it had at most 15 significant digits.
        auto [p, ec] = std::to_chars(chars, chars + sizeof chars, v.real);
        text = std::string_view(chars, size_t(p - chars));
    } else if (v.storage == Storage::Text) {
        text = v.bytes;
    } else {
        return notAllowed(t, "varbinary");
    }
    if (!parseScaled(text, scale, out)) {
        std::string_view digits = trim(text);
        bool numeric = !digits.empty() &&
                       digits.find_first_not_of("+-.0123456789eE") == std::string_view::npos;
        if (numeric) return overflow(t);
        return ConversionError{8114, "Error converting data type nvarchar to " + typeName(t) + "."};
    }
    return std::nullopt;
}

std::optional<ConversionError> encodeDecimal(GrowBuffer& out, const ColumnType& t,
                                             const SqlValue& v) {
    Scaled s;
    if (auto e = scaledValue(t, v, t.scale, s)) return e;
    if (s.magnitude >= kPow10.value[t.precision]) {
        return ConversionError{8115, "Arithmetic overflow error converting " + typeName(t) +
                                         " to data type " + typeName(t) + "."};
    }
    uint8_t length = t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
    out.u8(length);
    out.u8(s.negative ? 0 : 1);
    writeLittleEndian(out, s.magnitude, length - 1u);
    return std::nullopt;
}

std::optional<ConversionError> encodeMoney(GrowBuffer& out, const ColumnType& t,
                                           const SqlValue& v) {
    Scaled s;
    if (auto e = scaledValue(t, v, 4, s)) return e;
    unsigned __int128 limit =
        t.size == 4 ? (unsigned __int128)INT32_MAX : (unsigned __int128)INT64_MAX;
    if (s.magnitude > limit + (s.negative ? 1 : 0)) return overflow(t);
    int64_t x = s.negative ? int64_t(-static_cast<__int128>(s.magnitude)) : int64_t(s.magnitude);
    out.u8(t.size);
    if (t.size == 4) {
        out.i32le(int32_t(x));
    } else {
        auto u = static_cast<uint64_t>(x);
        out.u32le(uint32_t(u >> 32));
        out.u32le(uint32_t(u));
    }
    return std::nullopt;
}

std::optional<ConversionError> encodeFloat(GrowBuffer& out, const ColumnType& t,
                                           const SqlValue& v) {
    double d = 0;
    if (v.storage == Storage::Real) {
        d = v.real;
    } else if (v.storage == Storage::Integer) {
        d = double(v.integer);
    } else if (v.storage == Storage::Text) {
        std::string s(trim(v.bytes));
        char* end = nullptr;
        d = std::strtod(s.c_str(), &end);
        if (s.empty() || end != s.c_str() + s.size())
            return ConversionError{8114,
                                   "Error converting data type nvarchar to " + typeName(t) + "."};
    } else {
        return notAllowed(t, "varbinary");
    }
    out.u8(t.size);
    if (t.size == 4) {
        auto f = float(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        out.u32le(bits);
    } else {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        out.u64le(bits);
    }
    return std::nullopt;
}

std::optional<ConversionError> encodeBit(GrowBuffer& out, const ColumnType& t, const SqlValue& v) {
    bool b = false;
    if (v.storage == Storage::Integer) {
        b = v.integer != 0;
    } else if (v.storage == Storage::Real) {
        b = v.real != 0;
    } else if (v.storage == Storage::Text) {
        std::string s = toLower(trim(v.bytes));
        if (s == "1" || s == "true") {
            b = true;
        } else if (s != "0" && s != "false") {
            return conversionFailed(t, v.bytes);
        }
    } else {
        return notAllowed(t, "varbinary");
    }
    out.u8(1);
    out.u8(b ? 1 : 0);
    return std::nullopt;
}

std::optional<ConversionError> encodeTemporal(GrowBuffer& out, const ColumnType& t,
                                              const SqlValue& v) {
    auto bad = [] {
        return ConversionError{
            241, "Conversion failed when converting date and/or time from character string."};
    };
    if (v.storage == Storage::Blob) return notAllowed(t, "varbinary");
    if (v.storage != Storage::Text) return bad();
    DateTimeParts p;
    if (!parseDateTime(v.bytes, p)) return bad();
    int64_t days = daysSinceYearOne(p.year, p.month, p.day);
    const int64_t time100ns =
        ((int64_t(p.hour) * 60 + p.minute) * 60 + p.second) * 10000000LL + p.fraction;
    const int64_t day100ns = 86400LL * 10000000LL;
    const int64_t maxDays = daysSinceYearOne(9999, 12, 31);
    auto range = [&t] {
        return ConversionError{242, "The conversion of a nvarchar data type to a " + typeName(t) +
                                        " data type resulted in an out-of-range value."};
    };
    auto scaledTime = [&](int scale, bool& carry) {
        int64_t unit = 1;
        for (int k = scale; k < 7; ++k) unit *= 10;
        int64_t units = (time100ns + unit / 2) / unit;
        carry = units * unit >= day100ns;
        return carry ? 0 : units;
    };
    auto timeBytes = [](int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; };

    switch (t.kind) {
        case Kind::Date:
            out.u8(3);
            out.littleEndian(uint64_t(days), 3);
            return std::nullopt;
        case Kind::Time: {
            bool carry;
            int64_t units = scaledTime(t.scale, carry);
            out.u8(uint8_t(timeBytes(t.scale)));
            out.littleEndian(uint64_t(units), size_t(timeBytes(t.scale)));
            return std::nullopt;
        }
        case Kind::DateTime2: {
            bool carry;
            int64_t units = scaledTime(t.scale, carry);
            if (carry) ++days;
            if (days > maxDays) return range();
            out.u8(uint8_t(timeBytes(t.scale) + 3));
            out.littleEndian(uint64_t(units), size_t(timeBytes(t.scale)));
            out.littleEndian(uint64_t(days), 3);
            return std::nullopt;
        }
        case Kind::DateTime: {
            days -= daysSinceYearOne(1900, 1, 1);
            if (t.size == 4) {
                // Minutes, rounded up from 29.999 seconds on.
                int64_t minutes = (time100ns + 300010000LL) / 600000000LL;
                if (minutes == 1440) {
                    minutes = 0;
                    ++days;
                }
                if (days < 0 || days > daysSinceYearOne(2079, 6, 6) - daysSinceYearOne(1900, 1, 1))
                    return range();
                out.u8(4);
                out.u16le(uint16_t(days));
                out.u16le(uint16_t(minutes));
            } else {
                // 1/300 s ticks: .997 stays .997, .999 becomes the next second.
                int64_t ticks = (time100ns * 300 + 5000000) / 10000000;
                if (ticks >= 86400LL * 300) {
                    ticks = 0;
                    ++days;
                }
                if (days < daysSinceYearOne(1753, 1, 1) - daysSinceYearOne(1900, 1, 1) ||
                    days > maxDays - daysSinceYearOne(1900, 1, 1))
                    return range();
                out.u8(8);
                out.i32le(int32_t(days));
                out.u32le(uint32_t(ticks));
            }
            return std::nullopt;
        }
        default:
            return bad();
    }
}

std::optional<ConversionError> encodeGuid(GrowBuffer& out, const ColumnType& t, const SqlValue& v) {
    uint8_t wire[16];
    if (v.storage == Storage::Blob && v.bytes.size() == 16) {
        const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int j = 0; j < 16; ++j) wire[j] = uint8_t(v.bytes[size_t(order[j])]);
    } else if (v.storage != Storage::Text || !parseGuid(v.bytes, wire)) {
        (void)t;
        return ConversionError{
            8169, "Conversion failed when converting from a character string to uniqueidentifier."};
    }
    out.u8(16);
    out.write(wire, 16);
    return std::nullopt;
}

// UTF-8 -> CP1252 bytes appended to out, at most maxBytes of them (one per
// character); as utf8ToCp1252 followed by a cut.
// Length of the plain ASCII start of s, looked at 8 bytes at a time.
size_t asciiPrefix(const char* s, size_t size) {
    size_t n = 0;
    for (; n + 8 <= size; n += 8) {
        uint64_t word;
        std::memcpy(&word, s + n, 8);
        if (word & 0x8080808080808080ULL) break;
    }
    while (n < size && uint8_t(s[n]) < 0x80) ++n;
    return n;
}

void appendCp1252(GrowBuffer& out, std::string_view utf8, size_t maxBytes) {
    // Plain ASCII, the common case, is copied as it is.
    const size_t ascii = asciiPrefix(utf8.data(), std::min(utf8.size(), maxBytes));
    out.write(utf8.data(), ascii);
    size_t written = ascii;
    for (size_t i = ascii; i < utf8.size() && written < maxBytes; ++written)
        out.u8(uint8_t(cp1252Byte(nextCodePoint(utf8, i))));
}

// UTF-8 -> UTF-16LE appended to out, at most maxUnits code units, never half
// a surrogate pair; as utf8ToUtf16 followed by a cut. Returns the units written.
size_t appendUtf16(GrowBuffer& out, std::string_view utf8, size_t maxUnits) {
    size_t units = 0;
    size_t i = 0;
    // Plain ASCII first, two bytes per character.
    {
        const size_t n = asciiPrefix(utf8.data(), std::min(utf8.size(), maxUnits));
        uint8_t* p = out.extend(2 * n);
        for (size_t k = 0; k < n; ++k) {
            p[2 * k] = uint8_t(utf8[k]);
            p[2 * k + 1] = 0;
        }
        i = units = n;
    }
    while (i < utf8.size() && units < maxUnits) {
        char32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            if (units + 2 > maxUnits) break;
            cp -= 0x10000;
            out.u16le(uint16_t(0xD800 + (cp >> 10)));
            out.u16le(uint16_t(0xDC00 + (cp & 0x3FF)));
            units += 2;
        } else {
            out.u16le(uint16_t(cp));
            ++units;
        }
    }
    return units;
}

std::optional<ConversionError> encodeText(GrowBuffer& out, const ColumnType& t, const SqlValue& v) {
    if (v.storage == Storage::Integer || v.storage == Storage::Real) {
        // Callers hand numbers in text columns over as text; a bare number here
        // still gets SQLite's own spelling.
        return ConversionError{8114, "Error converting data type to " + typeName(t) + "."};
    }
    const bool narrow = t.kind == Kind::Char || t.kind == Kind::VarChar;
    if (t.max) {
        // PLP needs the total length first: convert into a scratch buffer.
        thread_local GrowBuffer scratch;
        scratch.clear();
        if (narrow) {
            appendCp1252(scratch, v.bytes, SIZE_MAX);
        } else {
            appendUtf16(scratch, v.bytes, SIZE_MAX);
        }
        writePlp(out, scratch.data(), scratch.size());
        return std::nullopt;
    }
    // u16 byte length, patched once the text is written.
    const size_t lengthAt = out.size();
    out.u16le(0);
    size_t bytes;
    if (narrow) {
        appendCp1252(out, v.bytes, t.length);  // longer than declared: cut
        bytes = out.size() - lengthAt - 2;
        if (t.kind == Kind::Char && bytes < t.length) {
            std::memset(out.extend(t.length - bytes), ' ', t.length - bytes);
            bytes = t.length;
        }
    } else {
        size_t units = appendUtf16(out, v.bytes, t.length);
        if (t.kind == Kind::NChar) {
            for (; units < t.length; ++units) out.u16le(u' ');
        }
        bytes = 2 * units;
    }
    out.patchU16le(lengthAt, uint16_t(bytes));
    return std::nullopt;
}

std::optional<ConversionError> encodeBinary(GrowBuffer& out, const ColumnType& t,
                                            const SqlValue& v) {
    if (v.storage == Storage::Integer || v.storage == Storage::Real) return notAllowed(t, "int");
    std::string_view bytes = v.bytes;
    if (!t.max && bytes.size() > t.length) bytes = bytes.substr(0, t.length);
    if (t.max) {
        writePlp(out, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return std::nullopt;
    }
    const size_t padded = t.kind == Kind::Binary ? t.length : bytes.size();
    out.u16le(uint16_t(padded));
    out.bytes(bytes);
    if (padded > bytes.size())
        std::memset(out.extend(padded - bytes.size()), 0, padded - bytes.size());
    return std::nullopt;
}

}  // namespace

std::optional<ConversionError> encodeValue(GrowBuffer& out, const ColumnType& t,
                                           const SqlValue& v) {
    const size_t mark = out.size();
    std::optional<ConversionError> error;
    if (v.storage == Storage::Null) {
        writeNull(out, t);
    } else {
        switch (t.kind) {
            case Kind::Int:
                error = encodeInt(out, t, v);
                break;
            case Kind::Bit:
                error = encodeBit(out, t, v);
                break;
            case Kind::Decimal:
                error = encodeDecimal(out, t, v);
                break;
            case Kind::Money:
                error = encodeMoney(out, t, v);
                break;
            case Kind::Float:
                error = encodeFloat(out, t, v);
                break;
            case Kind::Date:
            case Kind::Time:
            case Kind::DateTime:
            case Kind::DateTime2:
                error = encodeTemporal(out, t, v);
                break;
            case Kind::Char:
            case Kind::VarChar:
            case Kind::NChar:
            case Kind::NVarChar:
                error = encodeText(out, t, v);
                break;
            case Kind::Binary:
            case Kind::VarBinary:
                error = encodeBinary(out, t, v);
                break;
            case Kind::Guid:
                error = encodeGuid(out, t, v);
                break;
        }
    }
    if (error) out.truncate(mark);  // a failure leaves nothing behind
    return error;
}

std::optional<ConversionError> scaledAt(const SqlValue& value, int scale, Scaled& out) {
    ColumnType t;
    t.kind = Kind::Decimal;
    t.precision = 38;
    t.scale = uint8_t(scale);
    return scaledValue(t, value, scale, out);
}

std::optional<ConversionError> encodeValue(Sink& sink, const ColumnType& t, const SqlValue& v) {
    thread_local GrowBuffer scratch;
    scratch.clear();
    std::optional<ConversionError> error = encodeValue(scratch, t, v);
    if (!error) sink.write(scratch.data(), scratch.size());
    return error;
}

}  // namespace tds
