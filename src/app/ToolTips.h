#pragma once

#include <QString>

namespace rszorvik {

// A tooltip as the program shows it: plain text becomes rich text, which Qt wraps at a readable width
// (about 80 characters) instead of running it to the edge of the screen. Rich text stays as it is.
QString readableToolTip(const QString& text);

}  // namespace rszorvik
