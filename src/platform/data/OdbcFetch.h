#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "FieldValue.h"
#include "OdbcHandles.h"
#include "ResultTable.h"

namespace data::odbc {

// Reads the current result set of an executed statement into columns, block
// after block: bound row arrays, or rows one by one with SQLGetData when a
// column holds long values (read in chunks). The buffers are set up once and
// reused for every block. Errors name the statement's and the connection's
// records. The handles (and the canceller, when given) must outlive the
// fetcher; with a canceller, every fetch is open to the connection's cancel.
class BlockFetcher {
public:
    BlockFetcher(const Handle& stmt, const Handle& dbc, Canceller* canceller = nullptr);
    ~BlockFetcher();
    BlockFetcher(const BlockFetcher&) = delete;
    BlockFetcher& operator=(const BlockFetcher&) = delete;

    // A table with the result's columns and no rows.
    ResultTable emptyTable() const;
    // Appends the next rows to table (made by emptyTable); false once none is left.
    bool fetchInto(ResultTable& table);

private:
    struct State;
    const Handle& stmt_;
    const Handle& dbc_;
    Canceller* canceller_;
    ResultTable columns_;
    std::unique_ptr<State> state_;
};

// The whole current result set, in one table.
ResultTable fetchAll(const Handle& stmt, const Handle& dbc, Canceller* canceller = nullptr);

// The pieces of text conversion the fetcher relies on, open to tests.
struct Exact {
    __int128 unscaled = 0;
    int scale = 0;
};
// "-12345678901234.5678", "15.0000", ".5": digits with an optional sign and point.
std::optional<Exact> parseExact(std::string_view text);
// "23:59:59.1234560" (hh:mm:ss with up to 7 fraction digits) as 100 ns ticks.
std::optional<std::int64_t> parseTimeOfDay(std::string_view text);
// Days since 0001-01-01 in the proleptic Gregorian calendar.
std::int32_t daysSinceEpoch(int year, int month, int day);

}  // namespace data::odbc
