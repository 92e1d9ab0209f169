#pragma once

// Inside of Column, shared by ResultTable.cpp and the ODBC fetcher, which
// writes blocks of rows straight into it. Not part of the layer's interface.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ResultTable.h"

namespace data {

// A one-byte attribute of every row (decimal scale, date/time parts) that is
// almost always the same for a whole column: one value until rows differ.
class RowByte {
public:
    void push(std::uint8_t v, std::size_t row) {
        if (!set_) {
            common_ = v;
            set_ = true;
        }
        if (perRow_.empty()) {
            if (v == common_) return;
            perRow_.assign(row, common_);
        }
        perRow_.push_back(v);
    }
    // A NULL row keeps the column's value, so that per-row indexes stay aligned.
    void pushNull() {
        if (!perRow_.empty()) perRow_.push_back(common_);
    }
    std::uint8_t at(std::size_t row) const { return row < perRow_.size() ? perRow_[row] : common_; }
    void eraseFront(std::size_t n) {
        perRow_.erase(perRow_.begin(),
                      perRow_.begin() + static_cast<std::ptrdiff_t>(std::min(n, perRow_.size())));
    }

private:
    std::uint8_t common_ = 0;
    bool set_ = false;
    std::vector<std::uint8_t> perRow_;  // empty while all rows agree
};

struct Column::Storage {
    std::size_t rows = 0;
    std::vector<std::uint64_t> nullBits;  // bit set = NULL; empty while no row is NULL

    // One of these holds the values, by kind; NULL rows hold a zero or an empty range.
    std::vector<std::int64_t> ints;  // Integer; DateTime as 100 ns ticks since 0001-01-01
    std::vector<double> floats;      // Float
    std::vector<std::uint8_t> bits;  // Bit
    std::vector<__int128> decimals;  // Decimal, Currency (unscaled)
    RowByte attr;                    // Decimal, Currency: scale; DateTime: parts
    std::vector<char16_t> chars;     // Text: all values one after the other
    std::vector<char> bytes;         // Bytes: likewise
    std::vector<std::size_t> ends;   // Text, Bytes: end offset of each row

    bool isNull(std::size_t row) const {
        const std::size_t w = row / 64;
        return w < nullBits.size() && ((nullBits[w] >> (row % 64)) & 1U) != 0;
    }
    void markNull(std::size_t row) {
        const std::size_t w = row / 64;
        if (nullBits.size() <= w) nullBits.resize(w + 1, 0);
        nullBits[w] |= std::uint64_t{1} << (row % 64);
    }
    std::size_t begin(std::size_t row) const { return row == 0 ? 0 : ends[row - 1]; }
};

// The fetcher's way in.
struct ColumnAccess {
    using Storage = Column::Storage;
    static Column::Storage& storage(Column& c) { return *c.s_; }
    static const Column::Storage& storage(const Column& c) { return *c.s_; }
};

// Drops the first n rows (a record set handing over the rest of its records).
void eraseFrontRows(Column& c, std::size_t n);

constexpr std::int64_t kTicksPerDay = 864'000'000'000;

}  // namespace data
