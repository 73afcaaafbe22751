#pragma once

#include <QString>
#include <optional>
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

// The window's own label of a choice, "choice.<type>.<NAME>" in its catalogue ("choice.Parity.EVEN"),
// where it has one: the settings' labels name some choices as the stored files and the command line do
// ("EVEN", "half up"), which the window says in its language.
std::optional<QString> choiceLabel(std::string_view type, std::string_view name);

// A constant's label as the lists of the window show it.
template <class E>
QString label(const E& constant) {
    if (auto own = choiceLabel(E::kTypeName, constant.name())) return *own;
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
    if constexpr (requires { I::kTypeName; }) {
        if (auto own = choiceLabel(I::kTypeName, I::name(index))) return *own;
    }
    return QString::fromStdString(I::getReadable(index));
}

}  // namespace rszorvik::texts
