#include "CanConnect.h"

namespace connection {

bool CanConnect(const LoginDetails& details, data::DataAccess& dataAccess) {
    const std::unique_ptr<data::Connection> connection = dataAccess.CreateConnection();
    try {
        connection->Open(BuildConnectionString(details));
    } catch (...) {
        return false;
    }
    // The answer is whether the connection opened; a failing close changes
    // nothing of it (releasing the object frees the connection all the same).
    try {
        connection->Close();
    } catch (...) {
    }
    return true;
}

}  // namespace connection
