// The ODBC fetcher (fetchAll: bound row arrays block by block, or row by row
// with long values read through SQLGetData in chunks) against a driver made
// of the fuzz input. This file defines the ODBC calls the fetcher makes, so
// they take the place of the driver manager's: columns of every kind the
// layer plans for, values a legal driver could deliver for them, and long
// values handed out in pieces with their remaining length or SQL_NO_TOTAL.
// Every value must come back exactly; a DataError on such data is a fault.
#include <fuzzer/FuzzedDataProvider.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <QDate>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DataError.h"
#include "OdbcFetch.h"
#include "OdbcHandles.h"
#include "ResultTable.h"

namespace {

enum class Kind { Integer, Decimal, Money, Float, Bit, Date, Timestamp, Time, Text, Bytes };

constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

struct ColumnSpec {
    Kind kind = Kind::Integer;
    SQLSMALLINT sqlType = SQL_INTEGER;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    std::u16string name;
    std::u16string typeName;
    SQLSMALLINT cType = SQL_C_SBIGINT;  // what the fetcher must ask for
};

struct Value {
    bool null = false;
    std::string wire;  // what the driver writes for the column's C type
    // What the layer must make of it.
    std::int64_t integer = 0;
    __int128 unscaled = 0;
    std::int32_t days = 0;
    std::int64_t ticks = 0;
};

struct FakeStatement {
    std::vector<ColumnSpec> columns;
    std::vector<std::vector<Value>> rows;
    bool noTotal = false;

    std::size_t next = 0;
    std::size_t current = 0;
    SQLULEN arraySize = 1;
    SQLULEN* fetched = nullptr;
    SQLUSMALLINT* status = nullptr;
    struct Binding {
        SQLSMALLINT cType = 0;
        char* target = nullptr;
        SQLLEN length = 0;
        SQLLEN* ind = nullptr;
    };
    std::vector<Binding> bindings;
    std::vector<std::size_t> given;  // SQLGetData: bytes of the current value handed out
    std::vector<bool> started;
};

FakeStatement* g_stmt = nullptr;
int g_dbc = 0;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "odbc_fetch_fuzz: %s\n", what);
    std::abort();
}

// A cheap generator, so that a few input bytes make long values.
struct Noise {
    std::uint32_t state;
    std::uint16_t next() {
        state = state * 1664525u + 1013904223u;
        return std::uint16_t(state >> 16);
    }
};

template <typename T>
std::string rawBytes(const T& v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

std::size_t fixedSize(SQLSMALLINT cType) {
    switch (cType) {
        case SQL_C_SBIGINT:
        case SQL_C_DOUBLE:
            return 8;
        case SQL_C_BIT:
            return 1;
        case SQL_C_TYPE_DATE:
            return sizeof(DATE_STRUCT);
        case SQL_C_TYPE_TIMESTAMP:
            return sizeof(TIMESTAMP_STRUCT);
        default:
            return 0;  // character and binary: as long as the buffer says
    }
}

std::size_t terminator(SQLSMALLINT cType) {
    return cType == SQL_C_WCHAR ? 2 : cType == SQL_C_CHAR ? 1 : 0;
}

std::int32_t dayNumber(int y, int m, int d) {
    return std::int32_t(QDate(y, m, d).toJulianDay() - QDate(1, 1, 1).toJulianDay());
}

std::string decimalText(__int128 unscaled, int scale, bool leadingZero, bool trimZeros) {
    const bool negative = unscaled < 0;
    unsigned __int128 m = negative ? -static_cast<unsigned __int128>(unscaled) : unscaled;
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(m % 10)));
        m /= 10;
    } while (m != 0);
    if (digits.size() <= std::size_t(scale))
        digits.insert(0, std::size_t(scale) + 1 - digits.size(), '0');
    std::string whole = digits.substr(0, digits.size() - std::size_t(scale));
    std::string fraction = digits.substr(digits.size() - std::size_t(scale));
    if (trimZeros) fraction.erase(fraction.find_last_not_of('0') + 1);
    if (whole == "0" && !leadingZero && !fraction.empty()) whole.clear();
    std::string text = (negative ? "-" : "") + whole;
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

__int128 boundedUnscaled(FuzzedDataProvider& in, int precision) {
    __int128 limit = 1;
    for (int k = 0; k < precision; ++k) limit *= 10;
    const unsigned __int128 raw =
        (static_cast<unsigned __int128>(in.ConsumeIntegral<std::uint64_t>()) << 64) |
        in.ConsumeIntegral<std::uint64_t>();
    const __int128 v = static_cast<__int128>(raw % static_cast<unsigned __int128>(limit));
    return in.ConsumeBool() ? -v : v;
}

ColumnSpec makeColumn(FuzzedDataProvider& in, Noise& noise) {
    ColumnSpec c;
    const std::size_t nameLength = in.ConsumeIntegralInRange<std::size_t>(1, 300);
    for (std::size_t k = 0; k < nameLength; ++k) c.name += char16_t(0x20 + noise.next() % 0x3000);
    switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0: {
            c.kind = Kind::Integer;
            const SQLSMALLINT types[] = {SQL_TINYINT, SQL_SMALLINT, SQL_INTEGER, SQL_BIGINT};
            c.sqlType = in.PickValueInArray(types);
            c.cType = SQL_C_SBIGINT;
            break;
        }
        case 1:
            c.kind = Kind::Decimal;
            c.sqlType = in.ConsumeBool() ? SQL_DECIMAL : SQL_NUMERIC;
            c.size = in.ConsumeIntegralInRange<SQLULEN>(1, 38);
            c.digits = in.ConsumeIntegralInRange<SQLSMALLINT>(0, SQLSMALLINT(c.size));
            c.typeName = c.sqlType == SQL_DECIMAL ? u"decimal" : u"numeric";
            c.cType = SQL_C_CHAR;
            break;
        case 2: {
            c.kind = Kind::Money;
            c.sqlType = SQL_DECIMAL;
            const bool small = in.ConsumeBool();
            c.size = small ? 10 : 19;
            c.digits = 4;
            c.typeName = small ? u"smallmoney" : u"MONEY";
            c.cType = SQL_C_CHAR;
            break;
        }
        case 3: {
            c.kind = Kind::Float;
            const SQLSMALLINT types[] = {SQL_REAL, SQL_FLOAT, SQL_DOUBLE};
            c.sqlType = in.PickValueInArray(types);
            c.cType = SQL_C_DOUBLE;
            break;
        }
        case 4:
            c.kind = Kind::Bit;
            c.sqlType = SQL_BIT;
            c.cType = SQL_C_BIT;
            break;
        case 5:
            c.kind = Kind::Date;
            c.sqlType = SQL_TYPE_DATE;
            c.cType = SQL_C_TYPE_DATE;
            break;
        case 6:
            c.kind = Kind::Timestamp;
            c.sqlType = SQL_TYPE_TIMESTAMP;
            c.cType = SQL_C_TYPE_TIMESTAMP;
            break;
        case 7:
            c.kind = Kind::Time;
            c.sqlType = in.ConsumeBool() ? SQL_TYPE_TIME : kSsTime2;
            c.digits = in.ConsumeIntegralInRange<SQLSMALLINT>(0, 7);
            c.cType = SQL_C_CHAR;
            break;
        case 8: {
            c.kind = Kind::Text;
            const SQLSMALLINT types[] = {SQL_WVARCHAR, SQL_VARCHAR,       SQL_WCHAR,
                                         SQL_CHAR,     SQL_WLONGVARCHAR,  SQL_LONGVARCHAR,
                                         SQL_GUID,     kSsTimestampOffset};
            c.sqlType = in.PickValueInArray(types);
            const SQLULEN sizes[] = {0, 1073741823, 2147483647};
            c.size = in.ConsumeBool() ? in.ConsumeIntegralInRange<SQLULEN>(1, 4100)
                                      : in.PickValueInArray(sizes);
            c.cType = SQL_C_WCHAR;
            break;
        }
        default: {
            c.kind = Kind::Bytes;
            const SQLSMALLINT types[] = {SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY};
            c.sqlType = in.PickValueInArray(types);
            const SQLULEN sizes[] = {0, 2147483647};
            c.size = in.ConsumeBool() ? in.ConsumeIntegralInRange<SQLULEN>(1, 8100)
                                      : in.PickValueInArray(sizes);
            c.cType = SQL_C_BINARY;
            break;
        }
    }
    return c;
}

// A value the driver could deliver for the column; `budget` bounds the units
// of long values per input, so that one run stays quick.
Value makeValue(FuzzedDataProvider& in, Noise& noise, const ColumnSpec& c, std::size_t& budget) {
    Value v;
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        v.null = true;
        return v;
    }
    switch (c.kind) {
        case Kind::Integer: {
            std::int64_t x = in.ConsumeIntegral<std::int64_t>();
            if (c.sqlType == SQL_TINYINT) x = std::uint8_t(x);
            if (c.sqlType == SQL_SMALLINT) x = std::int16_t(x);
            if (c.sqlType == SQL_INTEGER) x = std::int32_t(x);
            v.integer = x;
            v.wire = rawBytes(x);
            break;
        }
        case Kind::Decimal:
        case Kind::Money: {
            v.unscaled = boundedUnscaled(in, int(c.size));
            const bool leadingZero = in.ConsumeBool(), trimZeros = in.ConsumeBool();
            v.wire = decimalText(v.unscaled, c.digits, leadingZero, trimZeros);
            break;
        }
        case Kind::Float:
            v.wire = rawBytes(in.ConsumeIntegral<std::uint64_t>());
            break;
        case Kind::Bit:
            v.wire = std::string(1, char(in.ConsumeBool()));
            break;
        case Kind::Date:
        case Kind::Timestamp: {
            const int y = in.ConsumeIntegralInRange(1, 9999), m = in.ConsumeIntegralInRange(1, 12);
            const int d = in.ConsumeIntegralInRange(1, QDate(y, m, 1).daysInMonth());
            v.days = dayNumber(y, m, d);
            if (c.kind == Kind::Date) {
                DATE_STRUCT s{SQLSMALLINT(y), SQLUSMALLINT(m), SQLUSMALLINT(d)};
                v.wire = rawBytes(s);
                break;
            }
            TIMESTAMP_STRUCT t{};
            t.year = SQLSMALLINT(y);
            t.month = SQLUSMALLINT(m);
            t.day = SQLUSMALLINT(d);
            t.hour = in.ConsumeIntegralInRange<SQLUSMALLINT>(0, 23);
            t.minute = in.ConsumeIntegralInRange<SQLUSMALLINT>(0, 59);
            t.second = in.ConsumeIntegralInRange<SQLUSMALLINT>(0, 59);
            t.fraction = in.ConsumeIntegralInRange<SQLUINTEGER>(0, 9'999'999) * 100;
            v.ticks = ((std::int64_t{t.hour} * 60 + t.minute) * 60 + t.second) * 10'000'000 +
                      t.fraction / 100;
            v.wire = rawBytes(t);
            break;
        }
        case Kind::Time: {
            const int h = in.ConsumeIntegralInRange(0, 23), m = in.ConsumeIntegralInRange(0, 59),
                      s = in.ConsumeIntegralInRange(0, 59);
            int scale = c.digits;
            const int f = in.ConsumeIntegralInRange(0, 9'999'999);
            char text[32];
            std::snprintf(text, sizeof text, "%02d:%02d:%02d.%07d", h, m, s, f);
            std::int64_t fraction = f;
            for (int k = scale; k < 7; ++k) fraction /= 10;
            for (int k = scale; k < 7; ++k) fraction *= 10;
            v.ticks = ((std::int64_t{h} * 60 + m) * 60 + s) * 10'000'000 + fraction;
            v.wire.assign(text, scale == 0 ? 8 : std::size_t(9 + scale));
            break;
        }
        case Kind::Text:
        case Kind::Bytes: {
            const bool fits = c.size > 0 && c.size <= 8000;
            std::size_t length = 0;
            if (fits) {
                length = in.ConsumeIntegralInRange<std::size_t>(0, c.size);
            } else {
                // Long values end near the fetcher's piece sizes as often as not:
                // 16384 units first, then the rest or 65536 more.
                const std::size_t around[] = {16384, 81920};
                const int shape = in.ConsumeIntegralInRange(0, 3);
                length = shape == 0   ? in.ConsumeIntegralInRange<std::size_t>(0, 64)
                         : shape == 3 ? in.ConsumeIntegralInRange<std::size_t>(0, 100000)
                                      : around[shape - 1] - 2 + in.ConsumeIntegralInRange(0, 4);
            }
            length = std::min(length, budget);
            budget -= length;
            if (c.kind == Kind::Text) {
                std::u16string units;
                for (std::size_t k = 0; k < length; ++k) units += char16_t(noise.next());
                v.wire.assign(reinterpret_cast<const char*>(units.data()), units.size() * 2);
            } else {
                for (std::size_t k = 0; k < length; ++k) v.wire += char(noise.next());
            }
            break;
        }
    }
    return v;
}

FakeStatement& statement(SQLHSTMT h) {
    if (h != g_stmt || !g_stmt) fail("a call on a statement handle the fetcher was not given");
    return *g_stmt;
}

const ColumnSpec& column(FakeStatement& s, SQLUSMALLINT col) {
    if (col < 1 || col > s.columns.size()) fail("a column number outside the result");
    return s.columns[col - 1];
}

// Writes one bound or requested value: the whole of a fixed-size one, as much
// of a character or binary one as the buffer holds (with its terminator).
SQLRETURN put(const ColumnSpec& c, const Value& v, SQLSMALLINT cType, char* target, SQLLEN length,
              SQLLEN* ind, std::size_t& given) {
    if (cType != c.cType) fail("the fetcher asked for a C type the column does not convert to");
    if (v.null) {
        if (!ind) fail("a NULL without an indicator to report it");
        *ind = SQL_NULL_DATA;
        return SQL_SUCCESS;
    }
    if (const std::size_t fixed = fixedSize(cType)) {
        std::memcpy(target, v.wire.data(), fixed);
        if (ind) *ind = SQLLEN(fixed);
        return SQL_SUCCESS;
    }
    const std::size_t term = terminator(cType);
    if (length < SQLLEN(term)) fail("a buffer too small for the terminator");
    std::size_t room = std::size_t(length) - term;
    if (cType == SQL_C_WCHAR) room &= ~std::size_t(1);
    const std::size_t remaining = v.wire.size() - given;
    const std::size_t n = std::min(room, remaining);
    std::memcpy(target, v.wire.data() + given, n);
    std::memset(target + n, 0, term);
    given += n;
    const bool truncated = n < remaining;
    if (ind) *ind = truncated && g_stmt->noTotal ? SQL_NO_TOTAL : SQLLEN(remaining);
    return truncated ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace

// The driver's side of the calls the fetcher makes.
extern "C" {

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT h, SQLSMALLINT* count) {
    *count = SQLSMALLINT(statement(h).columns.size());
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT col, SQLWCHAR* name, SQLSMALLINT nameMax,
                                  SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLULEN* size,
                                  SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    const ColumnSpec& c = column(statement(h), col);
    SQLRETURN rc = SQL_SUCCESS;
    if (name && nameMax > 0) {
        std::size_t n = c.name.size();
        if (n >= std::size_t(nameMax)) {
            n = std::size_t(nameMax) - 1;
            rc = SQL_SUCCESS_WITH_INFO;
        }
        std::memcpy(name, c.name.data(), n * 2);
        name[n] = 0;
    }
    if (nameLength) *nameLength = SQLSMALLINT(c.name.size());
    if (type) *type = c.sqlType;
    if (size) *size = c.size;
    if (digits) *digits = c.digits;
    if (nullable) *nullable = SQL_NULLABLE;
    return rc;
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT col, SQLUSMALLINT field,
                                   SQLPOINTER text, SQLSMALLINT textMax, SQLSMALLINT* textBytes,
                                   SQLLEN*) {
    const ColumnSpec& c = column(statement(h), col);
    if (field != SQL_DESC_TYPE_NAME) fail("a column attribute the fake driver does not know");
    const std::size_t units = std::min<std::size_t>(c.typeName.size(), (textMax - 2) / 2);
    std::memcpy(text, c.typeName.data(), units * 2);
    static_cast<SQLWCHAR*>(text)[units] = 0;
    if (textBytes) *textBytes = SQLSMALLINT(c.typeName.size() * 2);
    return units < c.typeName.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
    FakeStatement& s = statement(h);
    switch (attribute) {
        case SQL_ATTR_ROW_ARRAY_SIZE:
            s.arraySize = reinterpret_cast<SQLULEN>(value);
            if (s.arraySize == 0) fail("a row array of no rows");
            break;
        case SQL_ATTR_ROWS_FETCHED_PTR:
            s.fetched = static_cast<SQLULEN*>(value);
            break;
        case SQL_ATTR_ROW_STATUS_PTR:
            s.status = static_cast<SQLUSMALLINT*>(value);
            break;
        case SQL_ATTR_ROW_BIND_TYPE:
            if (reinterpret_cast<SQLULEN>(value) != SQL_BIND_BY_COLUMN)
                fail("row-wise binding, which the fake driver does not do");
            break;
        default:
            fail("a statement attribute the fake driver does not know");
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER target,
                             SQLLEN length, SQLLEN* ind) {
    FakeStatement& s = statement(h);
    column(s, col);
    s.bindings[col - 1] = {cType, static_cast<char*>(target), length, ind};
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT h) {
    FakeStatement& s = statement(h);
    if (s.next >= s.rows.size()) {
        if (s.fetched) *s.fetched = 0;
        return SQL_NO_DATA;
    }
    const std::size_t n = std::min<std::size_t>(s.arraySize, s.rows.size() - s.next);
    SQLRETURN rc = SQL_SUCCESS;
    for (std::size_t r = 0; r < n; ++r) {
        bool truncated = false;
        for (std::size_t i = 0; i < s.columns.size(); ++i) {
            const FakeStatement::Binding& b = s.bindings[i];
            if (!b.target) continue;
            const std::size_t stride =
                fixedSize(b.cType) ? fixedSize(b.cType) : std::size_t(b.length);
            std::size_t given = 0;
            truncated |= put(s.columns[i], s.rows[s.next + r][i], b.cType, b.target + r * stride,
                             b.length, b.ind ? b.ind + r : nullptr, given) != SQL_SUCCESS;
        }
        if (s.status) s.status[r] = truncated ? SQL_ROW_SUCCESS_WITH_INFO : SQL_ROW_SUCCESS;
        if (truncated) rc = SQL_SUCCESS_WITH_INFO;
    }
    for (std::size_t r = n; s.status && r < s.arraySize; ++r) s.status[r] = SQL_ROW_NOROW;
    if (s.fetched) *s.fetched = n;
    s.current = s.next;
    s.next += n;
    std::fill(s.given.begin(), s.given.end(), 0);
    std::fill(s.started.begin(), s.started.end(), false);
    return rc;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT h, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER target,
                             SQLLEN length, SQLLEN* ind) {
    FakeStatement& s = statement(h);
    const ColumnSpec& c = column(s, col);
    if (s.arraySize != 1) fail("SQLGetData with a row array");
    if (s.bindings[col - 1].target) fail("SQLGetData on a bound column");
    const Value& v = s.rows[s.current][col - 1];
    std::size_t& given = s.given[col - 1];
    if (s.started[col - 1] && (v.null || fixedSize(cType) || given == v.wire.size()))
        return SQL_NO_DATA;
    s.started[col - 1] = true;
    return put(c, v, cType, static_cast<char*>(target), length, ind, given);
}

// One result a statement: nothing follows its last row.
SQLRETURN SQL_API SQLMoreResults(SQLHSTMT h) {
    statement(h);
    return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option) {
    FakeStatement& s = statement(h);
    if (option == SQL_UNBIND)
        std::fill(s.bindings.begin(), s.bindings.end(), FakeStatement::Binding{});
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLWCHAR*, SQLINTEGER*,
                                 SQLWCHAR*, SQLSMALLINT, SQLSMALLINT*) {
    return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT, SQLHANDLE) { return SQL_SUCCESS; }

}  // extern "C"

namespace {

data::ValueKind layerKind(Kind k) {
    switch (k) {
        case Kind::Integer:
            return data::ValueKind::Integer;
        case Kind::Decimal:
            return data::ValueKind::Decimal;
        case Kind::Money:
            return data::ValueKind::Currency;
        case Kind::Float:
            return data::ValueKind::Float;
        case Kind::Bit:
            return data::ValueKind::Bit;
        case Kind::Date:
        case Kind::Timestamp:
        case Kind::Time:
            return data::ValueKind::DateTime;
        case Kind::Text:
            return data::ValueKind::Text;
        case Kind::Bytes:
            return data::ValueKind::Bytes;
    }
    return data::ValueKind::Null;
}

void checkValue(const ColumnSpec& c, const Value& v, const data::FieldValue& got) {
    if (v.null) {
        if (!got.isNull()) fail("a NULL came back as a value");
        return;
    }
    if (got.kind() != layerKind(c.kind)) fail("a value of the wrong kind");
    switch (c.kind) {
        case Kind::Integer:
            if (got.asInteger() != v.integer) fail("an integer changed");
            break;
        case Kind::Decimal:
        case Kind::Money:
            if (got.unscaled() != v.unscaled || got.scale() != c.digits)
                fail("a decimal changed (value or scale)");
            break;
        case Kind::Float: {
            const double d = got.asFloat();
            if (std::memcmp(&d, v.wire.data(), sizeof d) != 0) fail("a float changed");
            break;
        }
        case Kind::Bit:
            if (got.asBit() != (v.wire[0] != 0)) fail("a bit changed");
            break;
        case Kind::Date:
        case Kind::Timestamp:
        case Kind::Time: {
            const data::DateTimeValue dt = got.asDateTime();
            const std::uint8_t parts = c.kind == Kind::Date   ? data::DateTimeValue::HasDate
                                       : c.kind == Kind::Time ? data::DateTimeValue::HasTime
                                                              : data::DateTimeValue::HasDate |
                                                                    data::DateTimeValue::HasTime;
            if (dt.days != v.days || dt.ticks != v.ticks || dt.parts != parts)
                fail("a date or time changed");
            break;
        }
        case Kind::Text: {
            const QStringView text = got.asText();
            if (std::size_t(text.size()) * 2 != v.wire.size() ||
                (!text.isEmpty() && std::memcmp(text.utf16(), v.wire.data(), v.wire.size()) != 0))
                fail("a text changed");
            break;
        }
        case Kind::Bytes: {
            const QByteArrayView bytes = got.asBytes();
            if (std::size_t(bytes.size()) != v.wire.size() ||
                (!bytes.isEmpty() && std::memcmp(bytes.data(), v.wire.data(), v.wire.size()) != 0))
                fail("bytes changed");
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    FakeStatement s;
    Noise noise{in.ConsumeIntegral<std::uint32_t>()};
    s.noTotal = in.ConsumeBool();
    const std::size_t columns = in.ConsumeIntegralInRange<std::size_t>(1, 4);
    for (std::size_t i = 0; i < columns; ++i) s.columns.push_back(makeColumn(in, noise));
    // Mostly a few rows, which keeps runs quick; past 1000 a result takes
    // more than one block.
    const std::size_t rows =
        in.ConsumeIntegralInRange<std::size_t>(0, in.ConsumeBool() ? 1100 : 40);
    std::size_t budget = 300'000;
    for (std::size_t r = 0; r < rows; ++r) {
        std::vector<Value> row;
        for (const ColumnSpec& c : s.columns) row.push_back(makeValue(in, noise, c, budget));
        s.rows.push_back(std::move(row));
    }
    s.bindings.resize(columns);
    s.given.resize(columns);
    s.started.resize(columns);
    g_stmt = &s;

    {
        const data::odbc::Handle stmt(SQL_HANDLE_STMT, &s);
        const data::odbc::Handle dbc(SQL_HANDLE_DBC, &g_dbc);
        data::ResultTable table;
        try {
            table = data::odbc::fetchAll(stmt, dbc);
        } catch (const data::DataError& e) {
            std::fprintf(stderr, "odbc_fetch_fuzz: %s\n", qPrintable(e.description()));
            fail("a legal result could not be read");
        }
        if (table.fieldCount() != int(columns)) fail("wrong number of columns");
        if (table.rowCount() != rows) fail("wrong number of rows");
        for (std::size_t i = 0; i < columns; ++i) {
            const data::Column& col = table.column(int(i));
            const ColumnSpec& c = s.columns[i];
            if (col.name() != QString::fromUtf16(c.name.data(), qsizetype(c.name.size())))
                fail("a column name changed");
            if (col.sqlType() != c.sqlType) fail("a column's SQL type changed");
            if (col.kind() != layerKind(c.kind)) fail("a column of the wrong kind");
            for (std::size_t r = 0; r < rows; ++r) checkValue(c, s.rows[r][i], col.value(r));
        }
    }
    g_stmt = nullptr;
    return 0;
}
