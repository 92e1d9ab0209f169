#include "OdbcFetch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ColumnStorage.h"

namespace data::odbc {

namespace {

// SQL Server's own type codes that the ODBC headers do not carry.
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

constexpr SQLULEN kMaxBlockRows = 1000;
constexpr std::size_t kMaxBlockBytes = 16u << 20;  // bound buffers of one block
constexpr SQLULEN kMaxBoundTextUnits = 4000;       // longer texts come in chunks
constexpr SQLULEN kMaxBoundBytes = 8000;
constexpr SQLLEN kNumberTextBytes = 64;  // 38 digits, sign, point, terminator
constexpr std::size_t kChunkUnits = 16384;

enum class Read : std::uint8_t {
    Int64,      // straight into the column
    Double,     // straight into the column
    Bit,        // straight into the column
    ExactText,  // decimal as text, parsed
    Date,       // DATE_STRUCT
    Timestamp,  // TIMESTAMP_STRUCT
    TimeText,   // time of day as text, parsed
    Wide,       // UTF-16 text
    Binary,     //
};

struct Plan {
    ValueKind kind = ValueKind::Text;
    Read read = Read::Wide;
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLLEN elemBytes = 0;  // one value in the bound buffer
    bool isLong = false;   // read in chunks with SQLGetData
    int scale = 0;         // Decimal, Currency: the column's scale
    std::vector<char> buffer;
    std::vector<SQLLEN> ind;
};

QString wideString(const SQLWCHAR* s, std::size_t units) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(s), static_cast<qsizetype>(units));
}

QString columnName(const Handle& stmt, const Handle& dbc, SQLUSMALLINT col, SQLSMALLINT* type,
                   SQLULEN* size, SQLSMALLINT* digits) {
    std::vector<SQLWCHAR> name(256);
    SQLSMALLINT len = 0, nullable = 0;
    check(SQLDescribeColW(stmt.get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()), &len,
                          type, size, digits, &nullable),
          {&stmt, &dbc}, "SQLDescribeCol");
    if (len >= static_cast<SQLSMALLINT>(name.size())) {
        name.resize(static_cast<std::size_t>(len) + 1);
        check(SQLDescribeColW(stmt.get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()),
                              &len, type, size, digits, &nullable),
              {&stmt, &dbc}, "SQLDescribeCol");
    }
    return wideString(name.data(), static_cast<std::size_t>(len));
}

QString typeName(const Handle& stmt, const Handle& dbc, SQLUSMALLINT col) {
    SQLWCHAR buf[128] = {};
    SQLSMALLINT bytes = 0;
    check(SQLColAttributeW(stmt.get(), col, SQL_DESC_TYPE_NAME, buf, sizeof(buf), &bytes, nullptr),
          {&stmt, &dbc}, "SQLColAttribute(SQL_DESC_TYPE_NAME)");
    const std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(bytes) / 2, 127);
    return wideString(buf, units);
}

Plan planFor(SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits, const QString& typeName) {
    Plan p;
    switch (type) {
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
            p.kind = ValueKind::Integer;
            p.read = Read::Int64;
            p.cType = SQL_C_SBIGINT;
            p.elemBytes = sizeof(std::int64_t);
            break;
        case SQL_NUMERIC:
        case SQL_DECIMAL: {
            const bool money = typeName.compare(u"money", Qt::CaseInsensitive) == 0 ||
                               typeName.compare(u"smallmoney", Qt::CaseInsensitive) == 0;
            p.kind = money ? ValueKind::Currency : ValueKind::Decimal;
            p.read = Read::ExactText;
            p.cType = SQL_C_CHAR;
            p.elemBytes = kNumberTextBytes;
            p.scale = std::clamp<int>(digits, 0, 38);
            break;
        }
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            p.kind = ValueKind::Float;
            p.read = Read::Double;
            p.cType = SQL_C_DOUBLE;
            p.elemBytes = sizeof(double);
            break;
        case SQL_BIT:
            p.kind = ValueKind::Bit;
            p.read = Read::Bit;
            p.cType = SQL_C_BIT;
            p.elemBytes = 1;
            break;
        case SQL_TYPE_DATE:
            p.kind = ValueKind::DateTime;
            p.read = Read::Date;
            p.cType = SQL_C_TYPE_DATE;
            p.elemBytes = sizeof(DATE_STRUCT);
            break;
        case SQL_TYPE_TIMESTAMP:
            p.kind = ValueKind::DateTime;
            p.read = Read::Timestamp;
            p.cType = SQL_C_TYPE_TIMESTAMP;
            p.elemBytes = sizeof(TIMESTAMP_STRUCT);
            break;
        case SQL_TYPE_TIME:
        case kSsTime2:
            // As text: the C time struct has no fraction of a second.
            p.kind = ValueKind::DateTime;
            p.read = Read::TimeText;
            p.cType = SQL_C_CHAR;
            p.elemBytes = 32;
            break;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            p.kind = ValueKind::Bytes;
            p.read = Read::Binary;
            p.cType = SQL_C_BINARY;
            p.isLong = type == SQL_LONGVARBINARY || size == 0 || size > kMaxBoundBytes;
            p.elemBytes = p.isLong ? 0 : static_cast<SQLLEN>(size);
            break;
        case kSsTimestampOffset:
        default:
            // Texts, GUIDs and whatever else the driver can put into words.
            p.kind = ValueKind::Text;
            p.read = Read::Wide;
            p.cType = SQL_C_WCHAR;
            p.isLong = type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR || size == 0 ||
                       size > kMaxBoundTextUnits;
            p.elemBytes = p.isLong ? 0 : static_cast<SQLLEN>((size + 1) * sizeof(SQLWCHAR));
            break;
    }
    return p;
}

[[noreturn]] void badValue(const Column& c, const char* why) {
    throw DataError(
        QStringLiteral("The value read from column '%1' %2.").arg(c.name(), QLatin1String(why)));
}

// Appends one value from a buffer the driver filled (ind: its indicator).
void commitValue(const Plan& p, Column& c, const char* elem, SQLLEN ind) {
    ColumnAccess::Storage& s = ColumnAccess::storage(c);
    const std::size_t row = s.rows;
    if (ind == SQL_NULL_DATA) {
        c.append(FieldValue());
        return;
    }
    switch (p.read) {
        case Read::Int64: {
            std::int64_t v;
            std::memcpy(&v, elem, sizeof v);
            s.ints.push_back(v);
            break;
        }
        case Read::Double: {
            double v;
            std::memcpy(&v, elem, sizeof v);
            s.floats.push_back(v);
            break;
        }
        case Read::Bit:
            s.bits.push_back(static_cast<std::uint8_t>(*elem != 0));
            break;
        case Read::ExactText: {
            if (ind < 0 || ind >= p.elemBytes) badValue(c, "does not fit its buffer");
            const auto e = parseExact(std::string_view(elem, static_cast<std::size_t>(ind)));
            if (!e) badValue(c, "is not a number");
            __int128 u = e->unscaled;
            int scale = e->scale;
            for (; scale < p.scale; ++scale) u *= 10;  // one scale for the whole column
            s.decimals.push_back(u);
            s.attr.push(static_cast<std::uint8_t>(scale), row);
            break;
        }
        case Read::Date: {
            DATE_STRUCT d;
            std::memcpy(&d, elem, sizeof d);
            s.ints.push_back(std::int64_t{daysSinceEpoch(d.year, d.month, d.day)} * kTicksPerDay);
            s.attr.push(DateTimeValue::HasDate, row);
            break;
        }
        case Read::Timestamp: {
            TIMESTAMP_STRUCT t;
            std::memcpy(&t, elem, sizeof t);
            const std::int64_t ticks =
                ((std::int64_t{t.hour} * 60 + t.minute) * 60 + t.second) * 10'000'000 +
                t.fraction / 100;
            s.ints.push_back(std::int64_t{daysSinceEpoch(t.year, t.month, t.day)} * kTicksPerDay +
                             ticks);
            s.attr.push(DateTimeValue::HasDate | DateTimeValue::HasTime, row);
            break;
        }
        case Read::TimeText: {
            if (ind < 0 || ind >= p.elemBytes) badValue(c, "does not fit its buffer");
            const auto t = parseTimeOfDay(std::string_view(elem, static_cast<std::size_t>(ind)));
            if (!t) badValue(c, "is not a time of day");
            s.ints.push_back(*t);
            s.attr.push(DateTimeValue::HasTime, row);
            break;
        }
        case Read::Wide: {
            if (ind < 0 || ind > p.elemBytes - static_cast<SQLLEN>(sizeof(SQLWCHAR))) {
                badValue(c, "is longer than the column's size");
            }
            const auto* u = reinterpret_cast<const char16_t*>(elem);
            s.chars.insert(s.chars.end(), u, u + ind / 2);
            s.ends.push_back(s.chars.size());
            break;
        }
        case Read::Binary: {
            if (ind < 0 || ind > p.elemBytes) badValue(c, "is longer than the column's size");
            s.bytes.insert(s.bytes.end(), elem, elem + ind);
            s.ends.push_back(s.bytes.size());
            break;
        }
    }
    ++s.rows;
}

// A long text or binary value through SQLGetData, piece by piece, straight
// into the column's buffer.
void readLong(const Handle& stmt, const Handle& dbc, SQLUSMALLINT col, const Plan& p, Column& c) {
    ColumnAccess::Storage& s = ColumnAccess::storage(c);
    const bool wideText = p.read == Read::Wide;
    const std::size_t unit = wideText ? sizeof(SQLWCHAR) : 1;
    const std::size_t start = wideText ? s.chars.size() : s.bytes.size();
    std::size_t used = start;  // units so far
    std::size_t want = kChunkUnits;
    const auto resize = [&](std::size_t n) {
        if (wideText) {
            s.chars.resize(n);
        } else {
            s.bytes.resize(n);
        }
    };
    const auto base = [&]() -> char* {
        return wideText ? reinterpret_cast<char*>(s.chars.data()) : s.bytes.data();
    };
    for (bool first = true;; first = false) {
        const std::size_t room = want + (wideText ? 1 : 0);  // the driver ends texts with a 0
        resize(used + room);
        SQLLEN ind = 0;
        const SQLRETURN rc = SQLGetData(stmt.get(), col, p.cType, base() + used * unit,
                                        static_cast<SQLLEN>(room * unit), &ind);
        // No data: everything was read by the previous piece.
        if (check(rc, {&stmt, &dbc}, "SQLGetData", true) == SQL_NO_DATA) break;
        if (ind == SQL_NULL_DATA) {
            resize(start);
            c.append(FieldValue());
            return;
        }
        const bool allHere = rc == SQL_SUCCESS ||
                             (ind != SQL_NO_TOTAL && static_cast<std::size_t>(ind) <= want * unit);
        if (allHere) {
            if (ind < 0) badValue(c, "has no length");
            used += static_cast<std::size_t>(ind) / unit;
            break;
        }
        // Truncated: the buffer is full (less the terminator) and more follows.
        used += want;
        if (ind != SQL_NO_TOTAL && ind > 0) {
            const std::size_t left = static_cast<std::size_t>(ind) / unit - want;
            want = std::max<std::size_t>(left, 1);
        } else if (first) {
            want = kChunkUnits * 4;
        }
    }
    resize(used);
    s.ends.push_back(used);
    ++s.rows;
}

void setUpRowByRow(const Handle& stmt, const Handle& dbc, std::vector<Plan>& plans) {
    check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0),
          {&stmt, &dbc}, "SQLSetStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE)");
    for (Plan& p : plans) {
        if (!p.isLong) p.buffer.resize(static_cast<std::size_t>(p.elemBytes));
    }
}

// Appends up to maxRows rows one at a time; false when the result had no row left.
bool fetchRowByRow(const Handle& stmt, const Handle& dbc, Canceller* canceller,
                   std::vector<Plan>& plans, ResultTable& table, std::size_t maxRows) {
    for (std::size_t n = 0; n < maxRows; ++n) {
        // The driver reads a whole row with SQLFetch: only that call waits
        // for the server, SQLGetData reads what has come.
        SQLRETURN rc;
        {
            const DriverCall call(canceller, stmt);
            rc = SQLFetch(stmt.get());
        }
        if (check(rc, {&stmt, &dbc}, "SQLFetch", true) == SQL_NO_DATA) return n > 0;
        for (std::size_t i = 0; i < plans.size(); ++i) {
            Plan& p = plans[i];
            const auto col = static_cast<SQLUSMALLINT>(i + 1);
            if (p.isLong) {
                readLong(stmt, dbc, col, p, table.column(static_cast<int>(i)));
                continue;
            }
            SQLLEN ind = 0;
            check(SQLGetData(stmt.get(), col, p.cType, p.buffer.data(), p.elemBytes, &ind),
                  {&stmt, &dbc}, "SQLGetData");
            commitValue(p, table.column(static_cast<int>(i)), p.buffer.data(), ind);
        }
    }
    return true;
}

bool boundStraight(Read r) { return r == Read::Int64 || r == Read::Double || r == Read::Bit; }

// Binds the row arrays of a block fetch; returns the rows of one block.
SQLULEN setUpBlocks(const Handle& stmt, const Handle& dbc, std::vector<Plan>& plans,
                    SQLULEN* fetched, std::vector<SQLUSMALLINT>& status) {
    std::size_t rowBytes = 0;
    for (const Plan& p : plans) rowBytes += static_cast<std::size_t>(p.elemBytes) + sizeof(SQLLEN);
    const SQLULEN rows =
        std::clamp<SQLULEN>(kMaxBlockBytes / std::max<std::size_t>(rowBytes, 1), 1, kMaxBlockRows);
    status.resize(rows);
    const auto attr = [&](SQLINTEGER a, SQLPOINTER v, const char* what) {
        check(SQLSetStmtAttr(stmt.get(), a, v, 0), {&stmt, &dbc}, what);
    };
    attr(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
         "SQLSetStmtAttr(SQL_ATTR_ROW_BIND_TYPE)");
    attr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows),
         "SQLSetStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE)");
    attr(SQL_ATTR_ROWS_FETCHED_PTR, fetched, "SQLSetStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR)");
    attr(SQL_ATTR_ROW_STATUS_PTR, status.data(), "SQLSetStmtAttr(SQL_ATTR_ROW_STATUS_PTR)");

    for (std::size_t i = 0; i < plans.size(); ++i) {
        Plan& p = plans[i];
        p.ind.resize(rows);
        if (boundStraight(p.read)) continue;  // bound anew for every block, see below
        p.buffer.resize(static_cast<std::size_t>(p.elemBytes) * rows);
        check(SQLBindCol(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), p.cType, p.buffer.data(),
                         p.elemBytes, p.ind.data()),
              {&stmt, &dbc}, "SQLBindCol");
    }
    return rows;
}

// Appends one block of rows; false when the result had no row left.
bool fetchBlock(const Handle& stmt, const Handle& dbc, Canceller* canceller,
                std::vector<Plan>& plans, SQLULEN rows, SQLULEN& fetched,
                const std::vector<SQLUSMALLINT>& status, ResultTable& table) {
    // Numbers land in the column's own vector: bind its free tail.
    for (std::size_t i = 0; i < plans.size(); ++i) {
        Plan& p = plans[i];
        if (!boundStraight(p.read)) continue;
        ColumnAccess::Storage& s = ColumnAccess::storage(table.column(static_cast<int>(i)));
        void* tail = nullptr;
        switch (p.read) {
            case Read::Int64:
                s.ints.resize(s.rows + rows);
                tail = s.ints.data() + s.rows;
                break;
            case Read::Double:
                s.floats.resize(s.rows + rows);
                tail = s.floats.data() + s.rows;
                break;
            default:
                s.bits.resize(s.rows + rows);
                tail = s.bits.data() + s.rows;
                break;
        }
        check(SQLBindCol(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), p.cType, tail, p.elemBytes,
                         p.ind.data()),
              {&stmt, &dbc}, "SQLBindCol");
    }

    fetched = 0;
    SQLRETURN rc;
    {
        const DriverCall call(canceller, stmt);
        rc = SQLFetch(stmt.get());
    }
    // Rows before a server error come with "success with info", and the
    // error only as a record: check reads the records of every return.
    const bool done = check(rc, {&stmt, &dbc}, "SQLFetch", true) == SQL_NO_DATA;
    const std::size_t n = done ? 0 : static_cast<std::size_t>(fetched);
    for (std::size_t r = 0; r < n; ++r) {
        if (status[r] == SQL_ROW_ERROR) throw diagnostics({&stmt, &dbc}, "SQLFetch", SQL_ERROR);
    }

    for (std::size_t i = 0; i < plans.size(); ++i) {
        Plan& p = plans[i];
        Column& c = table.column(static_cast<int>(i));
        ColumnAccess::Storage& s = ColumnAccess::storage(c);
        if (boundStraight(p.read)) {
            for (std::size_t r = 0; r < n; ++r) {
                if (p.ind[r] != SQL_NULL_DATA) continue;
                s.markNull(s.rows + r);
                switch (p.read) {
                    case Read::Int64:
                        s.ints[s.rows + r] = 0;
                        break;
                    case Read::Double:
                        s.floats[s.rows + r] = 0;
                        break;
                    default:
                        s.bits[s.rows + r] = 0;
                        break;
                }
            }
            s.rows += n;
            s.ints.resize(p.read == Read::Int64 ? s.rows : s.ints.size());
            s.floats.resize(p.read == Read::Double ? s.rows : s.floats.size());
            s.bits.resize(p.read == Read::Bit ? s.rows : s.bits.size());
            continue;
        }
        for (std::size_t r = 0; r < n; ++r) {
            commitValue(p, c, p.buffer.data() + r * static_cast<std::size_t>(p.elemBytes),
                        p.ind[r]);
        }
    }
    return n > 0;
}

void shrink(ResultTable& table) {
    for (int i = 0; i < table.fieldCount(); ++i) {
        ColumnAccess::Storage& s = ColumnAccess::storage(table.column(i));
        s.ints.shrink_to_fit();
        s.floats.shrink_to_fit();
        s.bits.shrink_to_fit();
        s.decimals.shrink_to_fit();
        s.chars.shrink_to_fit();
        s.bytes.shrink_to_fit();
        s.ends.shrink_to_fit();
    }
}

// Reads what the statement has left after its result: an error the server
// sends after the last row (at the statement's end, or in a later statement
// of the batch) would otherwise never be read. Further results are passed over.
void finishResults(const Handle& stmt, const Handle& dbc, Canceller* canceller) {
    for (;;) {
        SQLRETURN rc;
        {
            const DriverCall call(canceller, stmt);
            rc = SQLMoreResults(stmt.get());
        }
        if (check(rc, {&stmt, &dbc}, "SQLMoreResults", true) == SQL_NO_DATA) return;
    }
}

}  // namespace

struct BlockFetcher::State {
    std::vector<Plan> plans;
    bool rowByRow = false;
    SQLULEN blockRows = 0;
    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status;
    bool done = false;
};

BlockFetcher::BlockFetcher(const Handle& stmt, const Handle& dbc, Canceller* canceller)
    : stmt_(stmt), dbc_(dbc), canceller_(canceller), state_(std::make_unique<State>()) {
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(stmt.get(), &count), {&stmt, &dbc}, "SQLNumResultCols");
    if (count <= 0) {
        state_->done = true;
        return;
    }
    for (SQLUSMALLINT col = 1; col <= static_cast<SQLUSMALLINT>(count); ++col) {
        SQLSMALLINT type = 0, digits = 0;
        SQLULEN size = 0;
        QString name = columnName(stmt, dbc, col, &type, &size, &digits);
        const QString tname =
            (type == SQL_DECIMAL || type == SQL_NUMERIC) ? typeName(stmt, dbc, col) : QString();
        Plan p = planFor(type, size, digits, tname);
        state_->rowByRow = state_->rowByRow || p.isLong;
        columns_.addColumn(std::move(name), p.kind, type, static_cast<std::int64_t>(size));
        state_->plans.push_back(std::move(p));
    }
    if (state_->rowByRow) {
        setUpRowByRow(stmt, dbc, state_->plans);
    } else {
        state_->blockRows = setUpBlocks(stmt, dbc, state_->plans, &state_->fetched, state_->status);
    }
}

BlockFetcher::~BlockFetcher() {
    if (!state_->rowByRow && !state_->plans.empty()) {
        SQLFreeStmt(stmt_.get(), SQL_UNBIND);
        SQLSetStmtAttr(stmt_.get(), SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        SQLSetStmtAttr(stmt_.get(), SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    }
}

ResultTable BlockFetcher::emptyTable() const {
    ResultTable t;
    for (int i = 0; i < columns_.fieldCount(); ++i) {
        const Column& c = columns_.column(i);
        t.addColumn(c.name(), c.kind(), c.sqlType(), c.declaredSize());
    }
    return t;
}

bool BlockFetcher::fetchInto(ResultTable& table) {
    if (state_->done) return false;
    const bool more =
        state_->rowByRow
            ? fetchRowByRow(stmt_, dbc_, canceller_, state_->plans, table, kMaxBlockRows)
            : fetchBlock(stmt_, dbc_, canceller_, state_->plans, state_->blockRows, state_->fetched,
                         state_->status, table);
    state_->done = !more;
    if (!more) finishResults(stmt_, dbc_, canceller_);
    return more;
}

ResultTable fetchAll(const Handle& stmt, const Handle& dbc, Canceller* canceller) {
    BlockFetcher fetcher(stmt, dbc, canceller);
    ResultTable table = fetcher.emptyTable();
    while (fetcher.fetchInto(table)) {
    }
    shrink(table);
    return table;
}

namespace {

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\0'))
        t.remove_suffix(1);
    return t;
}

}  // namespace

std::optional<Exact> parseExact(std::string_view text) {
    text = trimmed(text);
    Exact e;
    bool negative = false, point = false, digits = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int count = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '.' && !point) {
            point = true;
            continue;
        }
        if (ch < '0' || ch > '9') return std::nullopt;
        if (e.unscaled != 0 || ch != '0') ++count;
        if (count > 38) return std::nullopt;
        e.unscaled = e.unscaled * 10 + (ch - '0');
        if (point) ++e.scale;
        digits = true;
    }
    if (!digits) return std::nullopt;
    if (negative) e.unscaled = -e.unscaled;
    return e;
}

std::optional<std::int64_t> parseTimeOfDay(std::string_view text) {
    text = trimmed(text);
    if (text.size() < 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    const auto num = [&](std::size_t at, std::size_t len) -> int {
        int v = 0;
        for (std::size_t i = at; i < at + len; ++i) {
            const char ch = text[i];
            if (ch < '0' || ch > '9') return -1;
            v = v * 10 + (ch - '0');
        }
        return v;
    };
    const int h = num(0, 2), m = num(3, 2), s = num(6, 2);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return std::nullopt;
    std::int64_t ticks = ((std::int64_t{h} * 60 + m) * 60 + s) * 10'000'000;
    if (text.size() > 8) {
        if (text[8] != '.' || text.size() == 9 || text.size() > 16) return std::nullopt;
        const std::size_t digits = text.size() - 9;
        int f = num(9, digits);
        if (f < 0) return std::nullopt;
        for (std::size_t k = digits; k < 7; ++k) f *= 10;
        ticks += f;
    }
    return ticks;
}

std::int32_t daysSinceEpoch(int year, int month, int day) {
    // Days from civil, counted from 1970-01-01, then moved to 0001-01-01.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 719162;
}

}  // namespace data::odbc
