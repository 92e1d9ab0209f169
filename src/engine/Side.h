#pragma once

#include <QString>

namespace compare {

// The two sides of every comparison: the first table (and its login, its
// list, its window), and the second, which the lines name as the table
// records are added to or deleted from.
enum class Side { First = 0, Second = 1 };

// "first" or "second", as a sentence names a side ("the first database").
inline QString SideWord(Side side) {
    return side == Side::First ? QStringLiteral("first") : QStringLiteral("second");
}

}  // namespace compare
