#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace rszorvik::util {

// The version file could not be fetched. The message is what the user may see ("Timeout" for a server
// that stays silent); cause() keeps the transfer library's own words.
class UpdateIOError : public std::runtime_error {
  public:
    explicit UpdateIOError(const std::string& message, std::string cause = {})
        : std::runtime_error(message), causeText(std::move(cause)) {}
    const std::string& cause() const { return causeText; }

  private:
    std::string causeText;
};

// What one update check asks for.
struct UpdateRequest {
    // How long one whole check may take, from reading caFile to the last byte of the answer, redirects
    // included; the window and zorvik-cli both check with it. A server that sends a byte now and then
    // stays within every per-step timeout, but not within this.
    static constexpr std::chrono::milliseconds DEADLINE{20000};

    std::string url;             // https only; redirects are followed to https addresses only
    std::string currentVersion;  // the running program's version, "2020.1.0.0"
    std::string language;        // the two-letter code of the version element, or empty for the plain one
    std::string caFile;          // a PEM file of certificate authorities trusted besides the system's
    std::chrono::milliseconds deadline = DEADLINE;

    // The address from ZORVIK_UPDATE_URL, else the one the build was configured with; the extra certificate
    // authorities from ZORVIK_CA_FILE.
    static UpdateRequest fromEnvironment(std::string currentVersion, std::string language);
};

// Fetches the vendor's version file and tells whether it names a newer version than the running one. The
// file is read as text, not parsed: the version is whatever stands between <version2_LANG> and the next
// </version2_LANG>.
class ReadRemoteUpdate {
  public:
    static constexpr const char* VERSION_TAG = "version2";
    static constexpr std::chrono::milliseconds CONNECT_TIMEOUT{5000};
    static constexpr std::chrono::milliseconds READ_TIMEOUT{5000};  // without a single byte arriving
    // A version file is a few hundred bytes; anything this long is not one.
    static constexpr std::size_t MAX_CONTENT_BYTES = 64 * 1024;
    // A bundle of a few authorities is some kilobytes; the whole Debian bundle is about 200.
    static constexpr std::size_t MAX_CA_FILE_BYTES = 1024 * 1024;

    // Fetches and extracts at once. Throws UpdateIOError: "Timeout" when connecting or reading stalls or
    // the request's deadline passes, otherwise with the reason (refused, certificate, HTTP status, an
    // answer that is not HTTP/1.0 or later, redirect to another scheme, too long, a certificate authority
    // file that is no regular file of at most MAX_CA_FILE_BYTES, named in the message).
    // base::InterruptedError when the calling thread is interrupted meanwhile.
    explicit ReadRemoteUpdate(const UpdateRequest& request);

    const std::string& getUrl() const { return urlString; }
    const std::string& getContent() const { return content; }  // the body, its lines joined
    const std::string& getCurrentVersion() const { return currentVersion; }
    const std::string& getRemoteVersion() const { return remoteVersion; }  // empty when not found
    bool newerVersionAvailable() const { return compareVersions(remoteVersion, currentVersion); }

    // True when remote names a newer version than current. Texts with at most one dot compare as decimal
    // numbers; otherwise up to four dot-separated fields compare as integers. Anything unreadable: false.
    static bool compareVersions(std::string_view remote, std::string_view current);
    // The text between the first <TAG_LANG> (<TAG> for an empty language) and the first closing marker;
    // empty when either is missing or the closing marker comes first. No trimming.
    static std::string findXML(std::string_view content, std::string_view tag, std::string_view language);
    // The body with every line separator (CR, LF, CR LF) removed.
    static std::string joinLines(std::string_view body);
    // The content of a certificate authority file: only a regular file (a link to one is followed) of at
    // most MAX_CA_FILE_BYTES is read, so that a folder, a device, a FIFO or a huge file fails at once
    // instead of aborting, growing or hanging the check. Throws UpdateIOError naming the file.
    static std::string readCaFile(const std::string& path);

  private:
    std::string urlString;
    std::string content;
    std::string currentVersion;
    std::string remoteVersion;
};

}  // namespace rszorvik::util
