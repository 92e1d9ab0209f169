#pragma once

#include "DataAccess.h"
#include "LoginDetails.h"

namespace connection {

// True when a connection with these details opens. Creating the connection
// object may throw (the data-access layer is missing): that failure belongs
// to the caller's trap. Failing to build the string or to open is an answer
// of false; a failure to close afterwards is not. Nothing is shown and nothing
// stays open.
bool CanConnect(const LoginDetails& details, data::DataAccess& dataAccess);

}  // namespace connection
