#pragma once

#include <QString>

#include "app/Texts.h"

namespace rszorvik {

// Renders every tab of the main window, the Start tab while output runs, the window's dialogs, its
// questions, the export's file chooser and a tooltip to PNG files in dir, named "<language>-<nn>-<part>.png"
// or "<language>-<part>.png", for the documentation, with Qt's own texts in that language. The window shows a
// fixed sample record and port list, so the pictures do not depend on the machine. Returns the number of
// files written; a picture that cannot be written is reported on standard error.
int renderScreenshots(const QString& dir, texts::Language language);

}  // namespace rszorvik
