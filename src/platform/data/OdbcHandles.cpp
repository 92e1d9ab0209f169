#include "OdbcHandles.h"

#include <QStringList>
#include <algorithm>
#include <vector>

#include "DataAccess.h"

namespace data::odbc {

namespace {

struct Record {
    QString state;
    int native = 0;
    QString text;
};

void readRecords(const Handle& h, std::vector<Record>& out) {
    if (!h) return;
    std::vector<SQLWCHAR> buf(512);
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRecW(h.type(), h.get(), i, state, &native, buf.data(),
                                      static_cast<SQLSMALLINT>(buf.size()), &len);
        if (!SQL_SUCCEEDED(rc)) break;
        if (len >= static_cast<SQLSMALLINT>(buf.size())) {
            // Longer than the buffer: ask again with room for all of it.
            buf.resize(static_cast<std::size_t>(len) + 1);
            rc = SQLGetDiagRecW(h.type(), h.get(), i, state, &native, buf.data(),
                                static_cast<SQLSMALLINT>(buf.size()), &len);
            if (!SQL_SUCCEEDED(rc)) break;
        }
        len = std::min<SQLSMALLINT>(len, static_cast<SQLSMALLINT>(buf.size() - 1));
        Record r;
        r.state = QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5);
        r.native = static_cast<int>(native);
        r.text = QString::fromUtf16(reinterpret_cast<const char16_t*>(buf.data()), len);
        out.push_back(std::move(r));
    }
}

}  // namespace

std::atomic<int>& liveHandles(SQLSMALLINT type) {
    static std::atomic<int> counts[4];
    return counts[(type >= 1 && type <= 3) ? type : 0];
}

namespace {

// Warnings (class 01) leave a call's success standing; every other class is
// an error, whatever the return code.
bool isError(const Record& r) { return !r.state.startsWith(QLatin1String("01")); }

DataError fromRecords(const std::vector<Record>& records) {
    QStringList texts;
    for (const Record& r : records) texts << r.text;
    // The error's SQLSTATE and code, not those of a message before it.
    const auto first = std::find_if(records.begin(), records.end(), isError);
    const Record& named = first != records.end() ? *first : records.front();
    return DataError(texts.join(u'\n'), named.state, named.native);
}

}  // namespace

void throwIfErrorRecord(std::initializer_list<const Handle*> handles) {
    const Handle* own = handles.size() > 0 ? *handles.begin() : nullptr;
    if (!own) return;
    std::vector<Record> records;
    readRecords(*own, records);
    if (std::none_of(records.begin(), records.end(), isError)) return;
    for (auto h = handles.begin() + 1; h != handles.end(); ++h) {
        if (*h) readRecords(**h, records);
    }
    throw fromRecords(records);
}

DataError diagnostics(std::initializer_list<const Handle*> handles, const char* call,
                      SQLRETURN rc) {
    std::vector<Record> records;
    for (const Handle* h : handles) {
        if (h) readRecords(*h, records);
    }
    if (records.empty()) {
        const char* what = rc == SQL_INVALID_HANDLE ? "invalid handle"
                           : rc == SQL_NO_DATA      ? "no data"
                                                    : "no diagnostic record";
        return DataError(QStringLiteral("%1 failed (%2, return code %3).")
                             .arg(QLatin1String(call), QLatin1String(what))
                             .arg(rc));
    }
    return fromRecords(records);
}

namespace {

[[noreturn]] void throwCancelled() {
    throw DataError(QString::fromLatin1(messages::kCanceled),
                    QString::fromLatin1(messages::kCanceledState));
}

}  // namespace

void Canceller::cancel() noexcept {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    // The driver sends the server an attention; the call returns HY008 once
    // the server confirms it. Once per call: after the driver has returned,
    // the driver manager reads the statement's diagnostics still inside the
    // same call, and a second SQLCancel then finds the statement idle and
    // clears those diagnostics under the reader (a crash inside the driver).
    // A cancel the driver dropped leaves the call to the caller's let-go.
    if (inCall_ != SQL_NULL_HSTMT && !cancelSent_) {
        cancelSent_ = true;
        SQLCancel(inCall_);
    }
}

void Canceller::reset() noexcept {
    const std::lock_guard lock(mutex_);
    cancelled_ = false;
}

void Canceller::check() const {
    const std::lock_guard lock(mutex_);
    if (cancelled_) throwCancelled();
}

DriverCall::DriverCall(Canceller* canceller, const Handle& stmt) : canceller_(canceller) {
    if (!canceller_) return;
    const std::lock_guard lock(canceller_->mutex_);
    if (canceller_->cancelled_) throwCancelled();
    canceller_->inCall_ = stmt.get();
    canceller_->cancelSent_ = false;
}

DriverCall::~DriverCall() {
    if (!canceller_) return;
    const std::lock_guard lock(canceller_->mutex_);
    canceller_->inCall_ = SQL_NULL_HSTMT;
}

Handle allocate(SQLSMALLINT type, const Handle& parent) {
    SQLHANDLE h = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(type, parent.get(), &h);
    if (!SQL_SUCCEEDED(rc)) throw diagnostics({&parent}, "SQLAllocHandle", rc);
    return Handle(type, h);
}

}  // namespace data::odbc
