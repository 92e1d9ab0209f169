#include "LoginDetails.h"

namespace connection {

QString EscapeConnectionValue(const QString& value) {
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{'))) return value;
    return QLatin1Char('{') + value + QLatin1Char('}');
}

QString BuildConnectionString(const LoginDetails& d) {
    const QString server =
        d.localConnection ? d.server : d.server + QLatin1Char(',') + d.port;
    return QStringLiteral("Driver={SQL Server};Server=") + EscapeConnectionValue(server) +
           QStringLiteral(";Database=") + EscapeConnectionValue(d.database) +
           QStringLiteral(";Uid=") + EscapeConnectionValue(d.userName) +
           QStringLiteral(";Pwd=") + EscapeConnectionValue(d.password) + QLatin1Char(';');
}

}  // namespace connection
