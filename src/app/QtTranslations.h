#pragma once

#include "app/Texts.h"

namespace rszorvik {

// Makes Qt's own texts (standard buttons, the file chooser, context menus) speak the window's language:
// German loads Qt's German catalogue from Qt's translation folder, English uses Qt's built-in texts.
// Replaces what an earlier call loaded. A German catalogue that cannot be loaded is reported on standard
// error with the package that brings it; the window then goes on with Qt's English texts. Needs the
// application object.
void useQtTranslations(texts::Language language);

}  // namespace rszorvik
