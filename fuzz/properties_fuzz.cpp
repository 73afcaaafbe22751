// The properties codec on settings files and message catalogues someone else wrote: whatever parses
// must write back and read back to the same table.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Properties.h"

using rszorvik::base::Properties;
using namespace rszorvik::fuzz;

namespace {

void roundTrip(std::string_view bytes, Properties::Charset charset) {
    Properties table;
    try {
        table = Properties::parse(bytes, charset);
    } catch (const std::invalid_argument&) {
        return;
    }
    // store() escapes everything outside printable ASCII, so its output reads back as ISO 8859-1.
    const std::string stored = table.store("comment\nsecond line", "date");
    check(stored.find_first_not_of("\n\t !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
                                   "abcdefghijklmnopqrstuvwxyz{|}~") == std::string::npos,
          "store wrote a byte outside printable ASCII");
    const Properties back = Properties::parse(stored);
    check(back == table, "stored table does not read back", stored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = asText(data, size);
    roundTrip(bytes, Properties::Charset::Latin1);
    roundTrip(bytes, Properties::Charset::Utf8);
    return 0;
}
