// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <stdexcept>
#include <string>

#include "platform/Browser.h"

namespace rszorvik::platform {

void openInBrowser(const std::string& address) {
    if (!isBrowsableAddress(address))
        throw std::invalid_argument("Only https and mailto addresses are opened");
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, address.data(),
                                         static_cast<int>(address.size()), nullptr, 0);
    if (size <= 0) throw std::invalid_argument("The address is not UTF-8");
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, address.data(), static_cast<int>(address.size()), wide.data(), size);
    // The shell may hand the address to a COM server of the browser; this thread is COM's for the call.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) CoUninitialize();
    // Values up to 32 are errors.
    if (result <= 32)
        throw std::runtime_error(
            "The desktop cannot open the address (ShellExecute: " + std::to_string(result) + ")");
}

bool browsingSupported() {
    return true;
}

}  // namespace rszorvik::platform
