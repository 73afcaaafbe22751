#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rszorvik {

// The command line of the window program, read before the GUI toolkit starts: help, version and a refused
// command line must not need a display.
struct WindowCommandLine {
    enum class Action { Window, Help, Version, Screenshots, Refused };
    static constexpr int kRefusedStatus = 2;

    Action action = Action::Window;
    std::optional<std::string> port;  // the argument naming the port; may be empty (no port)
    std::string screenshotDir;
    std::string language = "de";  // de or en: the window's and the pictures' language when languageGiven
    bool languageGiven = false;
    std::string refusal;  // why the command line was refused, for Action::Refused
    // The program's name and the toolkit's own options (-platform NAME, -style NAME, ...) in its single-dash
    // form, for the application object; nothing else reaches it.
    std::vector<std::string> toolkitArguments;

    // Reads argv[1..argc). Never throws for what the user typed: a refusal is Action::Refused.
    static WindowCommandLine parse(int argc, const char* const* argv);
    // The text --help prints, in the process language.
    static std::string help();
    // A sentence of the command line ("commandline.refused", ...) in the process language.
    static std::string text(std::string_view key);
};

}  // namespace rszorvik
