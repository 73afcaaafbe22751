#pragma once

#include <QString>

#include "app/Texts.h"

namespace rszorvik {

// Renders every tab of the main window and the window's dialogs to PNG files in dir, named
// "<language>-<nn>-<part>.png", for the documentation. The window shows a fixed sample record and port
// list, so the pictures do not depend on the machine. Returns the number of files written; a picture that
// cannot be written is reported on standard error.
int renderScreenshots(const QString& dir, texts::Language language);

}  // namespace rszorvik
