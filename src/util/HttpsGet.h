#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace rszorvik::util {

struct HttpsGetLimits {
    std::chrono::milliseconds connectTimeout;  // TCP and TLS handshake together
    std::chrono::milliseconds readTimeout;     // longest silence once connected
    std::size_t maxBytes;                      // a longer body is an error, not a bigger buffer
};

// The body of a GET over HTTPS with certificate and host name verification, following redirects to https
// addresses only. caFile, when not empty, names PEM certificate authorities trusted in addition to the
// system's bundle. Throws UpdateIOError ("Timeout" for a stalled connect or read), and
// base::InterruptedError when the calling thread is interrupted during the transfer.
std::string httpsGet(const std::string& url, const std::string& caFile, const HttpsGetLimits& limits);

}  // namespace rszorvik::util
