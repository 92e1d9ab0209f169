#pragma once

// Owners of ODBC handles and the one check every SQLRETURN goes through.
// Internal to the data-access layer.

#include <sql.h>
#include <sqlext.h>

#include <QString>
#include <atomic>
#include <initializer_list>
#include <mutex>
#include <utility>

#include "DataError.h"

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the layer hands UTF-16 to the W API as is");

namespace data::odbc {

// Handles of each type (1 env, 2 dbc, 3 stmt) alive right now: tests check
// that every path gives back what it took.
std::atomic<int>& liveHandles(SQLSMALLINT type);

// One ODBC handle, freed by its destructor. Move-only.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE h) : type_(type), h_(h) {
        if (h_ != SQL_NULL_HANDLE) ++liveHandles(type_);
    }
    Handle(Handle&& o) noexcept : type_(o.type_), h_(std::exchange(o.h_, nullptr)) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            type_ = o.type_;
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    SQLHANDLE get() const { return h_; }
    SQLSMALLINT type() const { return type_; }
    explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }
    void reset() noexcept {
        if (h_ != SQL_NULL_HANDLE && SQL_SUCCEEDED(SQLFreeHandle(type_, h_))) --liveHandles(type_);
        h_ = SQL_NULL_HANDLE;
    }

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// All diagnostic records of the handles, in order (the failing handle first,
// then the ones it belongs to), joined by line breaks; SQLSTATE and native
// code of the first error record (of the first record when all are warnings).
DataError diagnostics(std::initializer_list<const Handle*> handles, const char* call, SQLRETURN rc);

// Throws the diagnostics when the first handle holds an error record (any
// SQLSTATE outside class 01, the warnings). A server error that comes after
// rows reaches the client as "success with info" or "no data" with the error
// in a record, so a return code alone never tells that a call succeeded.
void throwIfErrorRecord(std::initializer_list<const Handle*> handles);

// Throws the diagnostics unless rc is a success (or SQL_NO_DATA when allowed)
// without an error record.
inline SQLRETURN check(SQLRETURN rc, std::initializer_list<const Handle*> handles, const char* call,
                       bool noDataIsFine = false) {
    if (rc == SQL_SUCCESS) return rc;
    if (rc == SQL_SUCCESS_WITH_INFO || (noDataIsFine && rc == SQL_NO_DATA)) {
        throwIfErrorRecord(handles);
        return rc;
    }
    throw diagnostics(handles, call, rc);
}

// A new handle of type under parent; a failure is read from the parent.
Handle allocate(SQLSMALLINT type, const Handle& parent);

// A connection's cancel: whether the connection was cancelled, and the
// statement it has inside a driver call that may wait for the server, which
// another thread cancels with SQLCancel. SQLCancel runs under the lock and
// only while that call lasts: the handle cannot be freed under it (a call
// ends before its handle is freed, and its end waits for the lock), and the
// driver is not asked to cancel a statement between two calls, which FreeTDS
// would do by waiting for the server's answer on the cancelling thread.
class Canceller {
public:
    // Marks the connection cancelled and cancels the call in progress, if any.
    void cancel() noexcept;
    void reset() noexcept;
    // Throws the cancelled DataError once the connection was cancelled.
    void check() const;

private:
    friend class DriverCall;
    mutable std::mutex mutex_;
    SQLHSTMT inCall_ = SQL_NULL_HSTMT;
    bool cancelSent_ = false;  // to the call in progress
    bool cancelled_ = false;
};

// One driver call on a statement that may wait for the server (execute,
// fetch, a piece of a long value), open to a cancel while it lasts. Throws
// the cancelled DataError, without calling, once the connection was
// cancelled. No canceller: nothing to do.
class DriverCall {
public:
    DriverCall(Canceller* canceller, const Handle& stmt);
    ~DriverCall();
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;

private:
    Canceller* canceller_;
};

inline SQLWCHAR* wide(const QString& s) {
    return reinterpret_cast<SQLWCHAR*>(
        const_cast<char16_t*>(reinterpret_cast<const char16_t*>(s.utf16())));
}

}  // namespace data::odbc
