#pragma once

#include <QString>

namespace compare {

// The query that reads a whole table: the name in square brackets with every
// "]" doubled, so that blanks, reserved words and crafted names cannot break
// out of the identifier.
QString SelectAllFrom(const QString& tableName);

}  // namespace compare
