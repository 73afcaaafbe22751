#pragma once

#include <QString>

namespace rszorvik {

// The text of a key of the window's catalogue "rszorvik.zorvik". A key the catalogue lacks shows as the key
// itself, so a missing text is visible in the dialog instead of ending it; the start-up check reports it.
QString catalogText(const char* key);

}  // namespace rszorvik
