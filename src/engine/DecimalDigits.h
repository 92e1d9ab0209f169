#pragma once

#include <cstdint>

namespace compare::detail {

using i128 = __int128;
using u128 = unsigned __int128;

// Decimal digits of a magnitude, most significant first; returns the count.
inline int Digits(u128 magnitude, char* out) {
    char buf[40];
    int n = 0;
    do {
        // Peel 19 digits at a time so that most of the work is 64-bit division.
        std::uint64_t chunk = static_cast<std::uint64_t>(magnitude % 10'000'000'000'000'000'000ULL);
        magnitude /= 10'000'000'000'000'000'000ULL;
        for (int i = 0; i < 19 && (chunk != 0 || magnitude != 0); ++i) {
            buf[n++] = static_cast<char>('0' + chunk % 10);
            chunk /= 10;
        }
    } while (magnitude != 0);
    if (n == 0) buf[n++] = '0';
    for (int i = 0; i < n; ++i) out[i] = buf[n - 1 - i];
    return n;
}

inline u128 Magnitude(i128 v) { return v < 0 ? static_cast<u128>(0) - static_cast<u128>(v) : v; }

}  // namespace compare::detail
