#include "app/WindowCommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"

namespace rszorvik {
namespace {

// The options the toolkit takes out of the command line itself (QGuiApplication, QApplication and the X11
// platform). They were always accepted, so scripts may pass them.
constexpr std::array<std::string_view, 16> kToolkitValueOptions = {"platform",
                                                                   "platformpluginpath",
                                                                   "platformtheme",
                                                                   "plugin",
                                                                   "qwindowgeometry",
                                                                   "geometry",
                                                                   "qwindowicon",
                                                                   "icon",
                                                                   "qwindowtitle",
                                                                   "title",
                                                                   "session",
                                                                   "style",
                                                                   "stylesheet",
                                                                   "display",
                                                                   "name",
                                                                   "visual"};
constexpr std::array<std::string_view, 5> kToolkitFlags = {"reverse", "testability", "widgetcount", "dograb",
                                                           "nograb"};
// Taken only as "-name=value".
constexpr std::array<std::string_view, 3> kToolkitAttached = {"style", "stylesheet", "qmljsdebugger"};

bool contains(const auto& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

// The start-up check of the catalogues comes later: a damaged one must not abort the help.
std::string WindowCommandLine::text(std::string_view key) {
    try {
        return base::MessageCatalog::get(base::catalogues::kProgram).getString(key);
    } catch (const base::MissingResourceError&) {
        return std::string(key);
    }
}

WindowCommandLine WindowCommandLine::parse(int argc, const char* const* argv) {
    WindowCommandLine line;
    line.toolkitArguments.emplace_back(argc > 0 && argv[0] != nullptr ? argv[0] : "zorvik");
    const auto refuse = [&line](std::string why) {
        line.action = Action::Refused;
        line.refusal = std::move(why);
        return line;
    };
    bool optionsEnded = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> ports;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (optionsEnded || word.empty() || word == "-" || word.front() != '-') {
            ports.emplace_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string_view bare = word.substr(word.starts_with("--") ? 2 : 1);
        const std::string_view name = bare.substr(0, bare.find('='));
        if (word == "-h" || word == "--help") {
            help = true;
        } else if (word == "-v" || word == "--version") {
            version = true;
        } else if (word.starts_with("--") && (name == "screenshot" || name == "language")) {
            // "--screenshot DIR" or "--screenshot=DIR"
            std::string given;
            if (name.size() < bare.size()) {
                given = bare.substr(name.size() + 1);
            } else if (i + 1 < argc) {
                given = argv[++i];
            } else {
                return refuse(base::formatMessage(text("commandline.needs.value"), {word}));
            }
            if (given.empty()) return refuse(base::formatMessage(text("commandline.needs.value"), {word}));
            if (name == "screenshot") {
                line.screenshotDir = given;
                line.action = Action::Screenshots;
            } else {
                line.language = given;
                line.languageGiven = true;
            }
        } else if (name.size() < bare.size() && contains(kToolkitAttached, name)) {
            line.toolkitArguments.push_back("-" + std::string(bare));
        } else if (contains(kToolkitValueOptions, bare)) {
            if (i + 1 >= argc) return refuse(base::formatMessage(text("commandline.needs.value"), {word}));
            line.toolkitArguments.push_back("-" + std::string(bare));
            line.toolkitArguments.emplace_back(argv[++i]);
        } else if (contains(kToolkitFlags, bare)) {
            line.toolkitArguments.push_back("-" + std::string(bare));
        } else {
            return refuse(base::formatMessage(text("commandline.unknown.option"), {word}));
        }
    }
    if (help) {
        line.action = Action::Help;
        return line;
    }
    if (version) {
        line.action = Action::Version;
        return line;
    }
    if (ports.size() > 1) return refuse(base::formatMessage(text("commandline.one.port"), {ports[1]}));
    if (!ports.empty()) line.port = ports.front();
    if (line.language != "de" && line.language != "en")
        return refuse(base::formatMessage(text("commandline.language.choice"), {line.language}));
    return line;
}

std::string WindowCommandLine::help() {
    struct Entry {
        const char* names;
        const char* key;
    };
    static constexpr Entry kEntries[] = {
        {"PORT", "commandline.port"},
        {"--screenshot DIR", "commandline.screenshot"},
        {"--language LANG", "commandline.language"},
        {"-h, --help", "commandline.help"},
        {"-v, --version", "commandline.version"},
    };
    std::string out = text("commandline.usage") + "\n" + text("commandline.summary") + "\n\n";
    for (const auto& entry : kEntries) {
        std::string names = "  " + std::string(entry.names);
        names.resize(std::max<std::size_t>(names.size() + 2, 22), ' ');
        out += names + text(entry.key) + "\n";
    }
    out += "\n" + text("commandline.toolkit") + "\n\n" + text("commandline.exit.status") + "\n";
    return out;
}

}  // namespace rszorvik
