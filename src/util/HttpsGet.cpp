#include "util/HttpsGet.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/Interruptible.h"
#include "util/ReadRemoteUpdate.h"

namespace rszorvik::util {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLate = "the check did not end within its deadline";

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw UpdateIOError("The transfer library could not be initialised");
    });
}

struct Transfer {
    CURL* handle = nullptr;
    std::size_t maxBytes = 0;
    Clock::duration readTimeout{};
    Clock::time_point deadline{};
    std::string body;
    std::size_t headerBytes = 0;
    std::size_t seen = 0;  // header and body bytes at the last progress call
    Clock::time_point lastActivity = Clock::now();
    bool tooLong = false;
    bool stalled = false;
    bool late = false;  // the deadline passed
    bool interrupted = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (n > t.maxBytes - t.body.size()) {
        t.tooLong = true;
        return 0;  // ends the transfer with a write error
    }
    t.body.append(data, n);
    return n;
}

std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user) {
    static_cast<Transfer*>(user)->headerBytes += size * count;
    return size * count;
}

// Called at least once a second. The connect timeout covers the handshakes; from then on the transfer
// may stay silent for readTimeout at most, and it ends by the deadline however busy it is.
int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto& t = *static_cast<Transfer*>(user);
    if (base::Interruptible::isInterrupted()) {
        t.interrupted = true;
        return 1;
    }
    const auto now = Clock::now();
    if (now >= t.deadline) {
        t.late = true;
        return 1;
    }
    curl_off_t connected = 0;
    curl_easy_getinfo(t.handle, CURLINFO_APPCONNECT_TIME_T, &connected);
    const std::size_t seen = t.headerBytes + static_cast<std::size_t>(dlnow);
    if (connected == 0 || seen != t.seen) {
        t.seen = seen;
        t.lastActivity = now;
        return 0;
    }
    if (now - t.lastActivity >= t.readTimeout) {
        t.stalled = true;
        return 1;
    }
    return 0;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
}

// Setting a CA file would replace the system's bundle; the extra authorities go in after it instead, so
// a private server and the public ones are trusted side by side.
void trustExtraAuthorities(CURL* curl, const std::string& extra) {
    std::string bundle;
    char* systemBundle = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &systemBundle) == CURLE_OK && systemBundle != nullptr)
        bundle = readFile(systemBundle).value_or(std::string());
    bundle += '\n';
    bundle += extra;
    curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_COPY};
    if (curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob) != CURLE_OK)
        throw UpdateIOError("The transfer library cannot take extra certificate authorities");
}

bool isHttps(const char* url) {
    constexpr std::string_view scheme = "https:";
    if (url == nullptr) return false;
    const std::string_view text(url);
    return text.size() >= scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), text.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

long milliseconds(Clock::duration duration) {
    return static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(duration).count());
}

}  // namespace

std::string httpsGet(const std::string& url, const std::string& extraAuthorities,
                     const HttpsGetLimits& limits) {
    const auto timeLeft = limits.deadline - Clock::now();
    if (timeLeft <= Clock::duration::zero()) throw UpdateIOError("Timeout", kLate);
    initialiseOnce();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> owner(curl_easy_init(), &curl_easy_cleanup);
    CURL* curl = owner.get();
    if (curl == nullptr) throw UpdateIOError("The transfer library could not start a transfer");

    Transfer t;
    t.handle = curl;
    t.maxBytes = limits.maxBytes;
    t.readTimeout = limits.readTimeout;
    t.deadline = limits.deadline;
    std::array<char, CURL_ERROR_SIZE> error{};

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error.data());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    // Also where no progress call comes (resolving the host name); the progress call is the one that
    // tells the deadline from other timeouts.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, milliseconds(timeLeft) + 1000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    if (!extraAuthorities.empty()) trustExtraAuthorities(curl, extraAuthorities);

    t.lastActivity = Clock::now();
    const CURLcode code = curl_easy_perform(curl);
    const std::string reason = error[0] != '\0' ? std::string(error.data()) : curl_easy_strerror(code);

    if (t.interrupted) {
        base::Interruptible::checkInterrupted();
        throw base::InterruptedError();
    }
    if (t.stalled)
        throw UpdateIOError("Timeout",
                            "no data for " + std::to_string(limits.readTimeout.count()) + " milliseconds");
    if (t.late || (code == CURLE_OPERATION_TIMEDOUT && Clock::now() >= limits.deadline))
        throw UpdateIOError("Timeout", kLate);
    if (t.tooLong)
        throw UpdateIOError("The answer is longer than " + std::to_string(limits.maxBytes) + " bytes");
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    // An informational status and nothing after it is no answer to the request.
    if (status >= 100 && status <= 199)
        throw UpdateIOError("The server answered only with the interim HTTP status " +
                                std::to_string(status) + " and no final answer",
                            reason);
    if (code == CURLE_OPERATION_TIMEDOUT) throw UpdateIOError("Timeout", reason);
    if (code == CURLE_UNSUPPORTED_PROTOCOL) {
        // Either the address (or a redirect) names another scheme, or an https server answered without a
        // status line (HTTP/0.9), which the transfer library refuses with the same code.
        char* effective = nullptr;
        curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
        if (!isHttps(effective)) throw UpdateIOError("Only https addresses are fetched: " + reason);
        throw UpdateIOError("The server's answer is not HTTP/1.0 or later (no status line)", reason);
    }
    if (code != CURLE_OK) throw UpdateIOError(reason, curl_easy_strerror(code));
    if (status < 200 || status > 299)
        throw UpdateIOError("The server answered with HTTP status " + std::to_string(status));
    return std::move(t.body);
}

}  // namespace rszorvik::util
