#include "ResultTable.h"

#include <cstring>

#include "ColumnStorage.h"
#include "DataError.h"

namespace data {

namespace {

const char* kindName(ValueKind k) {
    switch (k) {
        case ValueKind::Null:
            return "null";
        case ValueKind::Integer:
            return "integer";
        case ValueKind::Decimal:
            return "decimal";
        case ValueKind::Currency:
            return "currency";
        case ValueKind::Float:
            return "float";
        case ValueKind::Bit:
            return "bit";
        case ValueKind::DateTime:
            return "date/time";
        case ValueKind::Text:
            return "text";
        case ValueKind::Bytes:
            return "bytes";
    }
    return "?";
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

Column::Column(QString name, ValueKind kind, int sqlType, std::int64_t declaredSize)
    : name_(std::move(name)),
      kind_(kind),
      sqlType_(sqlType),
      declaredSize_(declaredSize),
      s_(std::make_unique<Storage>()) {}
Column::Column(Column&&) noexcept = default;
Column& Column::operator=(Column&&) noexcept = default;
Column::~Column() = default;

std::size_t Column::size() const { return s_ ? s_->rows : 0; }

FieldValue Column::value(std::size_t row) const {
    if (row >= size()) {
        throw DataError(QStringLiteral("Row %1 is outside the column '%2' of %3 rows.")
                            .arg(row)
                            .arg(name_)
                            .arg(size()));
    }
    const Storage& s = *s_;
    if (s.isNull(row)) return FieldValue();
    switch (kind_) {
        case ValueKind::Null:
            return FieldValue();
        case ValueKind::Integer:
            return FieldValue::integer(s.ints[row]);
        case ValueKind::Decimal:
            return FieldValue::decimal(s.decimals[row], s.attr.at(row));
        case ValueKind::Currency:
            return FieldValue::currency(s.decimals[row], s.attr.at(row));
        case ValueKind::Float:
            return FieldValue::floating(s.floats[row]);
        case ValueKind::Bit:
            return FieldValue::bit(s.bits[row] != 0);
        case ValueKind::DateTime: {
            const std::int64_t t = s.ints[row];
            DateTimeValue v;
            v.days = static_cast<std::int32_t>(floorDiv(t, kTicksPerDay));
            v.ticks = t - std::int64_t{v.days} * kTicksPerDay;
            v.parts = s.attr.at(row);
            return FieldValue::dateTime(v);
        }
        case ValueKind::Text: {
            const std::size_t b = s.begin(row);
            return FieldValue::text(
                QStringView(s.chars.data() + b, static_cast<qsizetype>(s.ends[row] - b)));
        }
        case ValueKind::Bytes: {
            const std::size_t b = s.begin(row);
            return FieldValue::bytes(
                QByteArrayView(s.bytes.data() + b, static_cast<qsizetype>(s.ends[row] - b)));
        }
    }
    return FieldValue();
}

void Column::append(const FieldValue& v) {
    Storage& s = *s_;
    const std::size_t row = s.rows;
    if (v.isNull()) {
        s.markNull(row);
        switch (kind_) {
            case ValueKind::Null:
                break;
            case ValueKind::Integer:
                s.ints.push_back(0);
                break;
            case ValueKind::DateTime:
                s.ints.push_back(0);
                s.attr.pushNull();
                break;
            case ValueKind::Decimal:
            case ValueKind::Currency:
                s.decimals.push_back(0);
                s.attr.pushNull();
                break;
            case ValueKind::Float:
                s.floats.push_back(0);
                break;
            case ValueKind::Bit:
                s.bits.push_back(0);
                break;
            case ValueKind::Text:
                s.ends.push_back(s.chars.size());
                break;
            case ValueKind::Bytes:
                s.ends.push_back(s.bytes.size());
                break;
        }
        ++s.rows;
        return;
    }
    if (v.kind() != kind_) {
        throw DataError(
            QStringLiteral("A %1 value cannot be stored in the %2 column '%3'.")
                .arg(QLatin1String(kindName(v.kind())), QLatin1String(kindName(kind_)), name_));
    }
    switch (kind_) {
        case ValueKind::Null:
            break;
        case ValueKind::Integer:
            s.ints.push_back(v.asInteger());
            break;
        case ValueKind::Decimal:
        case ValueKind::Currency:
            s.decimals.push_back(v.unscaled());
            s.attr.push(static_cast<std::uint8_t>(v.scale()), row);
            break;
        case ValueKind::Float:
            s.floats.push_back(v.asFloat());
            break;
        case ValueKind::Bit:
            s.bits.push_back(v.asBit() ? 1 : 0);
            break;
        case ValueKind::DateTime: {
            const DateTimeValue d = v.asDateTime();
            s.ints.push_back(std::int64_t{d.days} * kTicksPerDay + d.ticks);
            s.attr.push(d.parts, row);
            break;
        }
        case ValueKind::Text: {
            const QStringView t = v.asText();
            s.chars.insert(s.chars.end(), t.utf16(), t.utf16() + t.size());
            s.ends.push_back(s.chars.size());
            break;
        }
        case ValueKind::Bytes: {
            const QByteArrayView b = v.asBytes();
            s.bytes.insert(s.bytes.end(), b.data(), b.data() + b.size());
            s.ends.push_back(s.bytes.size());
            break;
        }
    }
    ++s.rows;
}

void Column::reserve(std::size_t rows) {
    Storage& s = *s_;
    switch (kind_) {
        case ValueKind::Null:
            break;
        case ValueKind::Integer:
        case ValueKind::DateTime:
            s.ints.reserve(rows);
            break;
        case ValueKind::Decimal:
        case ValueKind::Currency:
            s.decimals.reserve(rows);
            break;
        case ValueKind::Float:
            s.floats.reserve(rows);
            break;
        case ValueKind::Bit:
            s.bits.reserve(rows);
            break;
        case ValueKind::Text:
        case ValueKind::Bytes:
            s.ends.reserve(rows);
            break;
    }
}

void eraseFrontRows(Column& c, std::size_t n) {
    ColumnAccess::Storage& s = ColumnAccess::storage(c);
    n = std::min(n, s.rows);
    if (n == 0) return;
    const auto cut = [n](auto& v) {
        if (!v.empty()) v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
    };
    cut(s.ints);
    cut(s.floats);
    cut(s.bits);
    cut(s.decimals);
    s.attr.eraseFront(n);
    if (!s.ends.empty()) {
        const std::size_t first = s.ends[n - 1];
        cut(s.ends);
        for (std::size_t& e : s.ends) e -= first;
        const auto drop = [first](auto& v) {
            if (!v.empty()) v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(first));
        };
        drop(s.chars);
        drop(s.bytes);
    }
    if (!s.nullBits.empty()) {
        std::vector<std::uint64_t> bits;
        for (std::size_t r = n; r < s.rows; ++r) {
            if (s.isNull(r)) {
                const std::size_t nr = r - n;
                if (bits.size() <= nr / 64) bits.resize(nr / 64 + 1, 0);
                bits[nr / 64] |= std::uint64_t{1} << (nr % 64);
            }
        }
        s.nullBits = std::move(bits);
    }
    s.rows -= n;
}

StoredComparison CompareStored(const Column& a, std::size_t rowA, const Column& b,
                               std::size_t rowB) {
    const ColumnAccess::Storage& x = ColumnAccess::storage(a);
    const ColumnAccess::Storage& y = ColumnAccess::storage(b);
    const bool nullA = x.isNull(rowA), nullB = y.isNull(rowB);
    if (nullA || nullB)
        return nullA == nullB ? StoredComparison::Same : StoredComparison::Different;
    if (a.kind() != b.kind()) return StoredComparison::Unknown;
    const auto same = [](bool equal) {
        return equal ? StoredComparison::Same : StoredComparison::Different;
    };
    switch (a.kind()) {
        case ValueKind::Integer:
            return same(x.ints[rowA] == y.ints[rowB]);
        case ValueKind::Bit:
            return same(x.bits[rowA] == y.bits[rowB]);
        case ValueKind::Float:
            return same(x.floats[rowA] == y.floats[rowB]);
        case ValueKind::Decimal:
        case ValueKind::Currency:
            if (x.attr.at(rowA) != y.attr.at(rowB)) return StoredComparison::Unknown;
            return same(x.decimals[rowA] == y.decimals[rowB]);
        case ValueKind::DateTime:
            if (x.attr.at(rowA) != y.attr.at(rowB)) return StoredComparison::Unknown;
            return same(x.ints[rowA] == y.ints[rowB]);
        case ValueKind::Text: {
            const std::size_t ba = x.begin(rowA), bb = y.begin(rowB);
            const std::size_t na = x.ends[rowA] - ba, nb = y.ends[rowB] - bb;
            return same(na == nb &&
                        (na == 0 || std::memcmp(x.chars.data() + ba, y.chars.data() + bb,
                                                na * sizeof(char16_t)) == 0));
        }
        case ValueKind::Bytes: {
            const std::size_t ba = x.begin(rowA), bb = y.begin(rowB);
            const std::size_t na = x.ends[rowA] - ba, nb = y.ends[rowB] - bb;
            return same(na == nb && (na == 0 || std::memcmp(x.bytes.data() + ba,
                                                            y.bytes.data() + bb, na) == 0));
        }
        case ValueKind::Null:
            return StoredComparison::Same;
    }
    return StoredComparison::Unknown;
}

ResultTable ResultTable::withoutRows() const {
    ResultTable t;
    for (const Column& c : columns_) t.addColumn(c.name(), c.kind(), c.sqlType(), c.declaredSize());
    return t;
}

void ResultTable::clearRows() {
    for (Column& c : columns_) {
        ColumnAccess::Storage& s = ColumnAccess::storage(c);
        s.rows = 0;
        s.nullBits.clear();
        s.ints.clear();
        s.floats.clear();
        s.bits.clear();
        s.decimals.clear();
        s.attr = RowByte();
        s.chars.clear();
        s.bytes.clear();
        s.ends.clear();
    }
}

Column& ResultTable::addColumn(QString name, ValueKind kind, int sqlType,
                               std::int64_t declaredSize) {
    columns_.emplace_back(std::move(name), kind, sqlType, declaredSize);
    return columns_.back();
}

int ResultTable::indexOf(const QString& name) const {
    const int found = FindName(ColumnNames(*this), name);
    return found >= 0 ? found : -1;
}

int FindName(const QStringList& names, const QString& name) {
    int withoutCase = kNoName;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<int>(i);
        if (names[i].compare(name, Qt::CaseInsensitive) == 0) {
            withoutCase = withoutCase == kNoName ? static_cast<int>(i) : kNameDiffersOnlyByCase;
        }
    }
    return withoutCase;
}

QStringList ColumnNames(const ResultTable& table) {
    QStringList names;
    for (int k = 0; k < table.fieldCount(); ++k) names << table.column(k).name();
    return names;
}

}  // namespace data
