#pragma once

#include <QString>

namespace app {

inline constexpr char kProductName[] = "Dorvantis";

// The title untitled message boxes show: the product name, cut at its last
// blank again and again while it is longer than 40 characters.
QString ApplicationTitleFor(const QString& productName);

// Sets that title for the program's message boxes.
void ApplyApplicationTitle();

}  // namespace app
