#include "CanConnect.h"

namespace connection {

bool CanConnect(const LoginDetails& details, data::DataAccess& dataAccess) {
    const std::unique_ptr<data::Connection> connection = dataAccess.CreateConnection();
    try {
        connection->Open(BuildConnectionString(details));
        connection->Close();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace connection
