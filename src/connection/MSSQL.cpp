#include "MSSQL.h"

namespace MSSQL {

bool CanConnect(const connection::LoginDetails& details, data::DataAccess& dataAccess) {
    const std::unique_ptr<data::Connection> connection = dataAccess.CreateConnection();
    try {
        connection->Open(connection::BuildConnectionString(details));
        connection->Close();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace MSSQL
