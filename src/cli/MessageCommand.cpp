// zorvik-cli message: a sentence of the tool's catalogue in the process language, for the scripts that
// come with it, so that a demo speaks one language with the run it shows.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"

namespace rszorvik::cli {

namespace {

struct MessageOptions {
    std::string key;
    std::vector<std::string> args;
};

}  // namespace

void addMessageCommand(CLI::App& app, const GlobalOptions& global) {
    (void)global;
    auto* command = app.add_subcommand(
        "message",
        "Print a sentence of zorvik-cli's catalogue, its %s filled with the arguments (for scripts)");
    command->group("");  // not listed in the help
    auto options = std::make_shared<MessageOptions>();
    command->add_option("key", options->key, "Catalogue key")->required();
    command->add_option("args", options->args, "Values for the %s of the sentence");
    command->callback([options] {
        if (!base::MessageCatalog::get(base::catalogues::kCli).containsKey(options->key))
            fail("message", "no sentence \"" + options->key + "\"", 2);
        // At most as many values as the sentence takes; missing ones stay empty.
        std::vector<std::string> args = options->args;
        args.resize(8);
        std::cout << base::formatMessage(cliText(options->key), {args[0], args[1], args[2], args[3], args[4],
                                                                 args[5], args[6], args[7]})
                  << std::endl;
    });
}

}  // namespace rszorvik::cli
