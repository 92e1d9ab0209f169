#pragma once

#include "DataAccess.h"
#include "LoginDetails.h"

namespace connection {

// True when a connection with these details opens. Creating the connection
// object may throw (the data-access layer is missing): that failure belongs
// to the caller's trap. Every later failure is an answer of false; nothing is
// shown and nothing stays open.
bool CanConnect(const LoginDetails& details, data::DataAccess& dataAccess);

}  // namespace connection
