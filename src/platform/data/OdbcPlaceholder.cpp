#include "DataAccess.h"
// Replaced by the ODBC layer.
