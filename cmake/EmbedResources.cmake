# Script mode: writes OUTPUT, a C++ source that holds every file of FILES (a ;-list) as bytes.
#   MODE=product  defines rszorvik::base::embeddedResource(), which looks a file name up in this table and
#                 then in the tables other libraries added at start-up;
#   MODE=extra    adds this table at start-up (the tests' own catalogues, never linked into the product).
if(NOT MODE MATCHES "^(product|extra)$")
  message(FATAL_ERROR "EmbedResources.cmake: MODE must be product or extra, not '${MODE}'")
endif()
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

if(MODE STREQUAL "product")
  set(entry "
std::vector<std::pair<const EmbeddedEntry*, const EmbeddedEntry*>>& extraTables() {
    static std::vector<std::pair<const EmbeddedEntry*, const EmbeddedEntry*>> tables;
    return tables;
}

std::optional<std::string_view> lookUp(const EmbeddedEntry* begin, const EmbeddedEntry* end, std::string_view name) {
    for (const EmbeddedEntry* r = begin; r != end; ++r)
        if (!r->name.empty() && r->name == name) return r->bytes;
    return std::nullopt;
}

}  // namespace

// Called only while static objects are constructed, before anything can look a resource up.
void addEmbeddedTable(const EmbeddedEntry* begin, const EmbeddedEntry* end) {
    extraTables().emplace_back(begin, end);
}

std::optional<std::string_view> embeddedResource(std::string_view name) {
    if (auto bytes = lookUp(std::begin(kResources), std::end(kResources), name)) return bytes;
    for (const auto& [begin, end] : extraTables())
        if (auto bytes = lookUp(begin, end, name)) return bytes;
    return std::nullopt;
}
")
else()
  set(entry "
struct Registration {
    Registration() { addEmbeddedTable(std::begin(kResources), std::end(kResources)); }
} registration;

}  // namespace
")
endif()

file(WRITE "${OUTPUT}.tmp" "// Generated from resources/; do not edit.
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>
namespace rszorvik::base {
struct EmbeddedEntry {
    std::string_view name;
    std::string_view bytes;
};
void addEmbeddedTable(const EmbeddedEntry* begin, const EmbeddedEntry* end);
std::optional<std::string_view> embeddedResource(std::string_view name);
namespace {
${body}
const EmbeddedEntry kResources[] = {
${table}    {\"\", std::string_view()},
};
${entry}
}  // namespace rszorvik::base
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
