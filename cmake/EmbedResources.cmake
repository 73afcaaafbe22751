# Script mode: writes OUTPUT, a C++ source that holds every file of FILES (a ;-list) as bytes,
# looked up by file name through rszorvik::base::embeddedResource().
set(body "")
set(table "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char r${index}[] = {${bytes} 0};\n")
  string(APPEND table "    {\"${name}\", std::string_view(r${index}, ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from resources/; do not edit.
#include <string_view>
#include <utility>
#include <optional>
namespace rszorvik::base {
namespace {
${body}
const std::pair<std::string_view, std::string_view> kResources[] = {
${table}    {\"\", std::string_view()},
};
}  // namespace
std::optional<std::string_view> embeddedResource(std::string_view name) {
    for (const auto& [key, data] : kResources)
        if (!key.empty() && key == name) return data;
    return std::nullopt;
}
}  // namespace rszorvik::base
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
