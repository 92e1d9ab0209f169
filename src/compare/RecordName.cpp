#include "RecordName.h"

#include <stdexcept>

namespace compare {

QString RecordName::text() const {
    if (number >= 1) return QString::number(number);
    if (number == 0 && !key.isEmpty()) return key;
    throw std::invalid_argument("record numbers start at 1");
}

}  // namespace compare
