#include "RecordName.h"

#include <stdexcept>

namespace compare {

QString RecordName::text() const {
    if (number >= 1) return QString::number(number);
    if (number == 0 && !key.isEmpty()) return key;
    throw std::invalid_argument("record numbers start at 1");
}

QString KeyValueText(const data::FieldValue& value, const ValueFormatter& formatter) {
    if (value.isNull()) return QStringLiteral("NULL");
    if (value.kind() != data::ValueKind::Text) return formatter.text(value);
    QString text = formatter.text(value);
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

}  // namespace compare
