#pragma once

#include <QString>

#include "FieldValue.h"

namespace compare {

// A value as a T-SQL literal that the server reads back as that very value,
// whatever the session's language and date format:
//  - NULL; integers and bits as digits; decimals and money in all their
//    digits ("-0.0012"); floats in scientific form with as many digits as
//    read back to the same double ("1.5e-07"), so that they stay floats;
//  - dates and times as ISO 8601 texts the server converts to the column's
//    type: '2024-02-29', '13:45:30.5', '2024-02-29T13:45:30.997' (with its
//    "T", never read by SET DATEFORMAT);
//  - texts as N'...' with quotes doubled, and control characters (line
//    breaks too, so that no line of a script can be taken for a batch end)
//    and lone surrogates as NCHAR(n) joined in; a long text joined from
//    pieces starts from nvarchar(max), so that the join is not cut at 4000;
//  - bytes as 0x and hex digits ("0x" alone when empty).
QString SqlLiteral(const data::FieldValue& value);

// What a key column holds its texts as, for literals compared with it.
struct KeyText {
    bool narrow = false;  // char or varchar: a code page's bytes
    QString collation;    // its collation, when known
};

// A key's value as a literal of its column's own type, so that the server
// compares without converting the column and its index still seeks (an
// N'...' against a varchar under a SQL_ collation makes every statement scan
// the table): for a char or varchar column a text is 'abc' when all of it is
// printable ASCII, which every code page holds alike, else
// CAST(N'...' COLLATE <its collation> AS varchar(8000)), converted by the
// column's own code page. Anything else as SqlLiteral.
QString KeyLiteral(const data::FieldValue& value, const KeyText& column);

}  // namespace compare
