#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace rszorvik::util {

// What one fetch may take. The values are the update check's (ReadRemoteUpdate); each platform's
// transfer code only enforces them.
struct HttpsGetLimits {
    std::chrono::milliseconds connectTimeout;        // TCP and TLS handshake together
    std::chrono::milliseconds readTimeout;           // longest silence once connected
    std::chrono::steady_clock::time_point deadline;  // the whole transfer, redirects included, ends by then
    std::size_t maxBytes;                            // a longer body is an error, not a bigger buffer
};

// The body of a GET over HTTPS with certificate and host name verification, following redirects to https
// addresses only. extraAuthorities, when not empty, holds PEM certificate authorities trusted in addition
// to the system's. Throws UpdateIOError ("Timeout" for a stalled connect or read and for a passed
// deadline), and base::InterruptedError when the calling thread is interrupted during the transfer.
std::string httpsGet(const std::string& url, const std::string& extraAuthorities,
                     const HttpsGetLimits& limits);

}  // namespace rszorvik::util
