#include "FieldValue.h"

namespace data {

FieldValue FieldValue::integer(std::int64_t v) {
    FieldValue f;
    f.kind_ = ValueKind::Integer;
    f.i_ = v;
    return f;
}

FieldValue FieldValue::decimal(__int128 unscaled, int scale) {
    FieldValue f;
    f.kind_ = ValueKind::Decimal;
    f.d_ = unscaled;
    f.scale_ = static_cast<std::uint8_t>(scale);
    return f;
}

FieldValue FieldValue::currency(__int128 unscaled, int scale) {
    FieldValue f = decimal(unscaled, scale);
    f.kind_ = ValueKind::Currency;
    return f;
}

FieldValue FieldValue::floating(double v) {
    FieldValue f;
    f.kind_ = ValueKind::Float;
    f.f_ = v;
    return f;
}

FieldValue FieldValue::bit(bool v) {
    FieldValue f;
    f.kind_ = ValueKind::Bit;
    f.i_ = v ? 1 : 0;
    return f;
}

FieldValue FieldValue::dateTime(DateTimeValue v) {
    FieldValue f;
    f.kind_ = ValueKind::DateTime;
    f.dt_ = v;
    return f;
}

FieldValue FieldValue::text(QStringView v) {
    FieldValue f;
    f.kind_ = ValueKind::Text;
    f.text_ = v;
    return f;
}

FieldValue FieldValue::bytes(QByteArrayView v) {
    FieldValue f;
    f.kind_ = ValueKind::Bytes;
    f.bytes_ = v;
    return f;
}

}  // namespace data
