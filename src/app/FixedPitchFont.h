#pragma once

#include <QFont>
#include <QString>

namespace rszorvik {

// A font whose characters all have one width, for text whose columns must line up: `preferred` where it
// is installed, else the desktop's fixed-pitch font. Where the desktop's monospace alias names a font whose
// glyphs differ in width (Noto Sans Mono), an installed font that is fixed pitch takes its place.
QFont fixedPitchFont(const QString& preferred = {});

}  // namespace rszorvik
