#include "util/OpenHyperlinkInBrowser.h"

namespace rszorvik::util {

bool OpenHyperlinkInBrowser::containsHyperlink(std::string_view text) {
    for (std::string_view marker : {HTML, HTML_END, A_HREF, HREF_CLOSED})
        if (text.find(marker) == std::string_view::npos) return false;
    return true;
}

std::string OpenHyperlinkInBrowser::getPlainLink(std::string_view text) {
    if (!containsHyperlink(text)) return std::string(text);
    const std::size_t begin = text.find(A_HREF) + A_HREF.size();
    const std::size_t end = text.find(HREF_CLOSED);
    // A stray `">` before the anchor names no address; better none than a slice of markup.
    if (end < begin) return {};
    return std::string(text.substr(begin, end - begin));
}

std::string OpenHyperlinkInBrowser::htmlIfy(std::string_view text) {
    std::string result(HTML);
    result += text;
    result += HTML_END;
    return result;
}

std::string OpenHyperlinkInBrowser::linkIfy(std::string_view address) {
    std::string result(A_HREF);
    result += address;
    result += HREF_CLOSED;
    result += address;
    result += HREF_END;
    return result;
}

std::string OpenHyperlinkInBrowser::linkableText(std::string_view text) {
    if (containsHyperlink(text)) return std::string(text);
    return htmlIfy(linkIfy(text));
}

}  // namespace rszorvik::util
