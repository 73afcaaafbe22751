#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rszorvik::base {

// The program's catalogues, by the names their properties files carry.
namespace catalogues {
inline constexpr std::string_view kProgram = "rszorvik.zorvik";              // the window and zorvik-cli
inline constexpr std::string_view kWorker = "rszorvik.worker.WorkerBundle";  // acquisition and detection
inline constexpr std::string_view kConfig = "rszorvik.config.ConfigBundle";  // setting labels, presets
inline constexpr std::string_view kCli = "rszorvik.cli.CliBundle";           // zorvik-cli's own sentences
}  // namespace catalogues

// A key the catalogue does not hold.
class MissingResourceError : public std::runtime_error {
  public:
    MissingResourceError(const std::string& catalogue, const std::string& key);
    const std::string& key() const { return missingKey; }

  private:
    std::string missingKey;
};

// A message catalogue such as catalogues::kConfig, read from the properties files embedded in
// the binary: "<name>_de.properties" over the base "<name>.properties" when the process language
// (base/Language.h) is German, the base file alone in English.
class MessageCatalog {
  public:
    // The catalogue of that name, loaded once per process; throws std::invalid_argument for an unknown name.
    static const MessageCatalog& get(std::string_view name);

    const std::string& name() const { return catalogName; }
    std::string getString(std::string_view key) const;  // throws MissingResourceError
    bool containsKey(std::string_view key) const;
    std::vector<std::string> keys() const;  // every key, sorted
    // The keys of the list that this catalogue does not hold, in list order.
    std::vector<std::string> missingKeys(const std::vector<std::string>& required) const;

  private:
    explicit MessageCatalog(std::string name);
    std::string catalogName;
    struct Data;
    const Data* content;
};

}  // namespace rszorvik::base
