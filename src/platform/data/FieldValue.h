#pragma once

#include <QByteArrayView>
#include <QStringView>
#include <cstdint>

namespace data {

// What kind of value one field of one record holds, as the driver delivered it.
enum class ValueKind : std::uint8_t {
    Null,
    Integer,   // tinyint, smallint, int, bigint
    Decimal,   // decimal, numeric: exact, unscaled value and scale
    Currency,  // money, smallmoney: exact, scale 4
    Float,     // real, float
    Bit,       // bit
    DateTime,  // date, time, datetime, datetime2, smalldatetime
    Text,   // char, varchar, nchar, nvarchar, (max), uniqueidentifier, anything else read as text
    Bytes,  // binary, varbinary, varbinary(max), image
};

// A point in time without time zone, as SQL Server's date and time types hold it.
struct DateTimeValue {
    enum Parts : std::uint8_t { HasDate = 1, HasTime = 2 };
    std::int32_t days = 0;   // days since 0001-01-01 (proleptic Gregorian)
    std::int64_t ticks = 0;  // 100 ns units since midnight
    std::uint8_t parts = HasDate | HasTime;
    friend bool operator==(const DateTimeValue&, const DateTimeValue&) = default;
};

// One field value. Cheap to copy: text and bytes are views into the storage
// of the ResultTable (or literal) they came from, which must outlive the value.
class FieldValue {
public:
    FieldValue() = default;  // null
    static FieldValue integer(std::int64_t v);
    static FieldValue decimal(__int128 unscaled, int scale);
    static FieldValue currency(__int128 unscaled, int scale = 4);
    static FieldValue floating(double v);
    static FieldValue bit(bool v);
    static FieldValue dateTime(DateTimeValue v);
    static FieldValue text(QStringView v);
    static FieldValue bytes(QByteArrayView v);

    ValueKind kind() const { return kind_; }
    bool isNull() const { return kind_ == ValueKind::Null; }

    std::int64_t asInteger() const { return i_; }      // Integer
    __int128 unscaled() const { return d_; }           // Decimal, Currency
    int scale() const { return scale_; }               // Decimal, Currency
    double asFloat() const { return f_; }              // Float
    bool asBit() const { return i_ != 0; }             // Bit
    DateTimeValue asDateTime() const { return dt_; }   // DateTime
    QStringView asText() const { return text_; }       // Text
    QByteArrayView asBytes() const { return bytes_; }  // Bytes

private:
    ValueKind kind_ = ValueKind::Null;
    std::uint8_t scale_ = 0;
    std::int64_t i_ = 0;
    double f_ = 0;
    __int128 d_ = 0;
    DateTimeValue dt_{};
    QStringView text_;
    QByteArrayView bytes_;
};

}  // namespace data
