#pragma once

#include <QString>

namespace rszorvik {

// A tooltip as the program shows it: plain text longer than about 60 characters becomes rich text of that
// width, which Qt wraps there instead of running it to the edge of the screen. Shorter texts and rich
// text stay as they are.
QString readableToolTip(const QString& text);

}  // namespace rszorvik
