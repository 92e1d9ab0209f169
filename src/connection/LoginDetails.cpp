#include "LoginDetails.h"

#include "ConnectionString.h"

namespace connection {

QString BuildConnectionString(const LoginDetails& d) {
    using data::QuoteConnectionValue;
    const QString server = d.localConnection ? d.server : d.server + QLatin1Char(',') + d.port;
    QString text = QStringLiteral("Driver={SQL Server};Server=") + QuoteConnectionValue(server) +
                   QStringLiteral(";Database=") + QuoteConnectionValue(d.database) +
                   QStringLiteral(";Uid=") + QuoteConnectionValue(d.userName) +
                   QStringLiteral(";Pwd=") + QuoteConnectionValue(d.password) + QLatin1Char(';');
    if (d.encrypt) text += QStringLiteral("Encryption=require;");
    return text;
}

}  // namespace connection
