#include "util/ReadRemoteUpdate.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "util/HttpsGet.h"

namespace rszorvik::util {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Whole text as a decimal number, blanks around it allowed, a leading '+' too; no "inf" or "nan".
std::optional<double> readDecimal(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
        }))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Whole text as a 32-bit integer with an optional sign; no blanks.
std::optional<std::int32_t> readInt(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

UpdateRequest UpdateRequest::fromEnvironment(std::string currentVersion, std::string language) {
    std::string url = environment("ZORVIK_UPDATE_URL");
    if (url.empty()) url = ZORVIK_DEFAULT_UPDATE_URL;  // set by the build
    return {std::move(url), std::move(currentVersion), std::move(language), environment("ZORVIK_CA_FILE")};
}

ReadRemoteUpdate::ReadRemoteUpdate(const UpdateRequest& request)
    : urlString(request.url), currentVersion(request.currentVersion) {
    const auto deadline = std::chrono::steady_clock::now() + request.deadline;
    const std::string authorities = request.caFile.empty() ? std::string() : readCaFile(request.caFile);
    content = joinLines(
        httpsGet(urlString, authorities, {CONNECT_TIMEOUT, READ_TIMEOUT, deadline, MAX_CONTENT_BYTES}));
    remoteVersion = findXML(content, VERSION_TAG, request.language);
}

std::string ReadRemoteUpdate::readCaFile(const std::string& path) {
    namespace fs = std::filesystem;
    const auto refuse = [&path](const std::string& why) {
        return UpdateIOError("Cannot read the certificate authority file " + path + ": " + why);
    };
    std::error_code error;
    const auto status = fs::status(path, error);
    if (error) throw refuse(error.message());
    switch (status.type()) {
        case fs::file_type::regular:
            break;
        case fs::file_type::directory:
            throw refuse("it is a folder");
        case fs::file_type::fifo:
            throw refuse("it is a FIFO");
        case fs::file_type::socket:
            throw refuse("it is a socket");
        case fs::file_type::character:
        case fs::file_type::block:
            throw refuse("it is a device");
        default:
            throw refuse("it is not a regular file");
    }
    const std::string tooLarge = "it is larger than " + std::to_string(MAX_CA_FILE_BYTES) + " bytes";
    const auto size = fs::file_size(path, error);
    if (error) throw refuse(error.message());
    if (size > MAX_CA_FILE_BYTES) throw refuse(tooLarge);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw refuse("it cannot be opened");
    // Read one byte past the limit: a file that grew since its size was taken is refused all the same.
    std::string text(MAX_CA_FILE_BYTES + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw refuse("reading it failed");
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > MAX_CA_FILE_BYTES) throw refuse(tooLarge);
    return text;
}

std::string ReadRemoteUpdate::joinLines(std::string_view body) {
    std::string joined;
    joined.reserve(body.size());
    for (char c : body)
        if (c != '\r' && c != '\n') joined += c;
    return joined;
}

std::string ReadRemoteUpdate::findXML(std::string_view content, std::string_view tag,
                                      std::string_view language) {
    std::string name(tag);
    if (!language.empty()) {
        name += '_';
        name += language;
    }
    const std::string open = "<" + name + ">";
    const std::string close = "</" + name + ">";
    const auto openAt = content.find(open);
    const auto closeAt = content.find(close);
    if (openAt == std::string_view::npos || closeAt == std::string_view::npos) return {};
    const auto start = openAt + open.size();
    if (start >= closeAt) return {};
    return std::string(content.substr(start, closeAt - start));
}

bool ReadRemoteUpdate::compareVersions(std::string_view remote, std::string_view current) {
    if (remote.empty() || current.empty() || remote == current) return false;
    // "1.5" against "1.25": both are read as decimal numbers, so 1.5 is newer.
    if (std::count(remote.begin(), remote.end(), '.') <= 1) {
        const auto r = readDecimal(remote);
        const auto c = readDecimal(current);
        return r && c && *r > *c;
    }
    // A dotted version is newer than a plain number.
    if (std::count(current.begin(), current.end(), '.') <= 1) return true;
    for (int level = 0; level < 3; ++level) {
        const auto remoteDot = remote.find('.');
        const auto currentDot = current.find('.');
        if (remoteDot == std::string_view::npos || currentDot == std::string_view::npos) return false;
        const auto r = readInt(remote.substr(0, remoteDot));
        const auto c = readInt(current.substr(0, currentDot));
        if (!r || !c) return false;
        if (*c != *r) return *c < *r;
        remote.remove_prefix(remoteDot + 1);
        current.remove_prefix(currentDot + 1);
    }
    const auto r = readInt(remote);
    const auto c = readInt(current);
    return r && c && *c < *r;
}

}  // namespace rszorvik::util
