#include "DataError.h"

namespace data {

DataError::DataError(const QString& description, const QString& sqlState, int nativeCode)
    : std::runtime_error(description.toStdString()),
      description_(description),
      sqlState_(sqlState),
      nativeCode_(nativeCode) {}

}  // namespace data
