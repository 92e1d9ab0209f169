// SQL Server column types and their TDS encoding: the type a column is
// announced with (TYPE_INFO) and how each stored SQLite value travels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Bytes.h"

namespace tds {

enum class Kind {
    Int,  // tinyint/smallint/int/bigint by size
    Bit,
    Decimal,  // decimal and numeric
    Money,    // money (8) and smallmoney (4)
    Float,    // float (8) and real (4)
    Date,
    Time,
    DateTime,  // datetime (8) and smalldatetime (4)
    DateTime2,
    Char,       // char(n): CP1252, padded
    VarChar,    // varchar(n) and varchar(max)
    NChar,      // nchar(n): UTF-16, padded
    NVarChar,   // nvarchar(n) and nvarchar(max)
    Binary,     // binary(n): padded with zeros
    VarBinary,  // varbinary(n) and varbinary(max)
    Guid,
};

struct ColumnType {
    Kind kind = Kind::NVarChar;
    uint8_t size = 0;             // Int, Money, Float, DateTime: byte size of the value
    uint8_t precision = 0;        // Decimal
    uint8_t scale = 0;            // Decimal, Time, DateTime2
    uint32_t length = 0;          // character and binary types: n (characters or bytes)
    bool max = false;             // (max): sent as partially length-prefixed data
    bool numericKeyword = false;  // declared "numeric" rather than "decimal"

    uint8_t tdsType() const;
    bool operator==(const ColumnType&) const = default;
};

// The SQL Server type a declared column type names ("decimal(10,2)",
// "NVARCHAR(MAX)", "int identity(1,1)"), or nothing for names it does not know.
std::optional<ColumnType> parseDeclaredType(std::string_view declared);

// SQL Server's system_type_id for a declared type, as sys.columns gives it
// (56 for "int identity(1,1)", 189 for rowversion); 0 for names it does not know.
uint8_t systemTypeId(std::string_view declared);
// Whether a declared type makes the column an identity ("int identity(1,1)").
bool declaresIdentity(std::string_view declared);

// What an expression without declared type is sent as, by SQLite storage class.
enum class Storage { Null, Integer, Real, Text, Blob };
ColumnType typeForStorage(Storage storage);

// TDS type code and TYPE_INFO, as in COLMETADATA.
void writeTypeInfo(Sink& out, const ColumnType& type);

// One stored value, borrowed from SQLite: text is UTF-8, blob raw bytes.
struct SqlValue {
    Storage storage = Storage::Null;
    int64_t integer = 0;
    double real = 0;
    std::string_view bytes;  // Text and Blob
};

// A value that cannot travel as its column type, reported as SQL Server does.
struct ConversionError {
    int number;
    std::string message;
};

// Appends the value in the column's wire form. On failure nothing is written.
// The GrowBuffer form allocates nothing once the buffer has grown (errors
// aside): result rows are encoded with it straight into the packet buffer.
std::optional<ConversionError> encodeValue(GrowBuffer& out, const ColumnType& type,
                                           const SqlValue& value);
std::optional<ConversionError> encodeValue(Sink& out, const ColumnType& type,
                                           const SqlValue& value);

// Exact decimal text -> unscaled integer at the given scale, rounded half away
// from zero. False when the text is not a number or needs more than 38 digits.
struct Scaled {
    bool negative = false;
    unsigned __int128 magnitude = 0;
};
bool parseScaled(std::string_view text, int scale, Scaled& out);
// A stored value as an exact decimal at the scale, as a decimal(38, scale)
// column would send it (a double by its shortest spelling).
std::optional<ConversionError> scaledAt(const SqlValue& value, int scale, Scaled& out);

// Date/time text as stored ("2024-02-29 13:45:30.997", "2024-02-29",
// "13:45:30.1234567", with 'T' allowed between date and time).
struct DateTimeParts {
    bool hasDate = false;
    bool hasTime = false;
    int year = 1900, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    uint32_t fraction = 0;  // 100-nanosecond units
};
bool parseDateTime(std::string_view text, DateTimeParts& out);
// Days from 0001-01-01 in the proleptic Gregorian calendar.
int64_t daysSinceYearOne(int year, int month, int day);

// "6F9619FF-8B86-D011-B42D-00C04FC964FF" -> the 16 bytes as they travel.
bool parseGuid(std::string_view text, uint8_t wire[16]);

}  // namespace tds
