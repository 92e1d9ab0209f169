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

}  // namespace compare
