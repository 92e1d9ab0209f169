#pragma once

#include <QString>
#include <stdexcept>

namespace data {

// The one failure type of the data-access layer. description() is what the
// driver said (all diagnostic records, "[FreeTDS][SQL Server]..."), shown to
// the user unchanged by the error report.
class DataError : public std::runtime_error {
public:
    explicit DataError(const QString& description, const QString& sqlState = QString(),
                       int nativeCode = 0);

    const QString& description() const { return description_; }
    const QString& sqlState() const { return sqlState_; }
    int nativeCode() const { return nativeCode_; }

private:
    QString description_;
    QString sqlState_;
    int nativeCode_;
};

}  // namespace data
