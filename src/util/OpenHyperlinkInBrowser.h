#pragma once

#include <string>
#include <string_view>

namespace rszorvik::util {

// The text side of clickable links in labels: whether a label's HTML holds a link, which address it
// names, and how plain text is turned into a link. Pure functions, safe on any thread.
class OpenHyperlinkInBrowser {
  public:
    static constexpr std::string_view A_HREF = "<a href=\"";
    static constexpr std::string_view HREF_CLOSED = "\">";
    static constexpr std::string_view HREF_END = "</a>";
    static constexpr std::string_view HTML = "<html>";
    static constexpr std::string_view HTML_END = "</html>";

    // True when the text holds all four of HTML, HTML_END, A_HREF and HREF_CLOSED, anywhere and in any order.
    static bool containsHyperlink(std::string_view text);
    // The address between the first A_HREF and the first HREF_CLOSED when the text holds a link (empty when
    // HREF_CLOSED comes first); otherwise the text unchanged.
    static std::string getPlainLink(std::string_view text);
    // HTML + text + HTML_END, also when the text has the markers already.
    static std::string htmlIfy(std::string_view text);
    // An anchor whose address and caption are both `address`.
    static std::string linkIfy(std::string_view address);
    // What a label shows once it is made linkable: its text when that holds a link already, otherwise an
    // HTML anchor whose address and caption are the text.
    static std::string linkableText(std::string_view text);
};

}  // namespace rszorvik::util
