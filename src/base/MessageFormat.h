#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace rszorvik::base {

// Fills the placeholders of a catalogue text with argument texts. Catalogue texts use two notations, and
// both are understood:
//   %s, %d      the next argument in order (numbers are passed as text, so both insert the text);
//   %2$s, %2$d  argument 2, counting from 1, without moving the order of the plain ones;
//   {1}         argument 1, counting from 0;
//   %%          a percent sign.
// Apostrophes are plain text: a text reads the same whether or not it is filled. A placeholder whose
// argument is missing stays as written, so the gap shows in the message instead of vanishing; anything
// else that is no placeholder ("100 %", "{x}") is copied unchanged.
std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace rszorvik::base
