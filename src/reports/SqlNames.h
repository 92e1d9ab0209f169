#pragma once

#include <QString>

#include "TableCatalogue.h"

namespace compare {

// A name as a bracketed identifier with every "]" doubled, so that blanks,
// reserved words and crafted names cannot break out of it.
QString QuotedIdentifier(const QString& name);

// A table as statements name it: "[sales].[Orders]", or "[Orders]" when it
// has no schema.
QString QualifiedName(const catalogue::TableName& table);

}  // namespace compare
