#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "base/Properties.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"

namespace rszorvik::texts {

// The window starts in the process language (base/Language.h: German unless ZORVIK_LANGUAGE=en). The
// pictures of the documentation switch it; choose it before the first window is built.
enum class Language { German, English };
void setLanguage(Language language);
Language language();

// Text of the window's catalogue ("rszorvik.zorvik"); throws base::MissingResourceError for a missing key.
QString app(std::string_view key);
// Text of the settings catalogue ("rszorvik.config.ConfigBundle").
QString config(std::string_view key);

// The entries of one catalogue file exactly as shipped ("rszorvik.zorvik_de.properties"), without the
// base file underneath; empty when the program has no such file.
base::Properties::Map catalogFile(std::string_view fileName);

// A constant's label as the lists of the window show it.
template <class E>
QString label(const E& constant) {
    if constexpr (requires { E::kLabels[0].fromCatalog; }) {
        if (language() == Language::English) {
            const auto& entry = E::kLabels[static_cast<std::size_t>(constant.ordinal())];
            return entry.fromCatalog ? config(entry.text) : QString::fromUtf8(entry.text);
        }
    }
    return QString::fromStdString(constant.label());
}
QString label(const config::ConfigHelper::Instrument& instrument);
// The label of an index enumeration's entry.
template <class I>
QString indexLabel(int index) {
    return QString::fromStdString(I::getReadable(index));
}

}  // namespace rszorvik::texts
