#pragma once

#include <string>
#include <string_view>

namespace rszorvik::platform {

// Whether an address may be handed to the desktop: https and mailto addresses only (in any letter case),
// without control characters, so that a link in a text never starts a program or opens a local file.
bool isBrowsableAddress(std::string_view address);

// Opens the address in the user's standard browser (a mailto address in the mail program), the address
// being one argument that no shell reads, and returns once the desktop has taken it. Throws
// std::invalid_argument for an address isBrowsableAddress refuses (nothing is started then), and
// std::runtime_error when the desktop cannot open it.
void openInBrowser(const std::string& address);

// Whether this system has a way to open addresses at all.
bool browsingSupported();

}  // namespace rszorvik::platform
