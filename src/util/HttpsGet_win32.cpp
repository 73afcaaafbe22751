// HTTPS through WinHTTP: Windows' own certificate store and proxy settings. Extra authorities (a private
// server's CA) are trusted by letting WinHTTP pass an unknown root and then building the server's chain
// with them as an extra store: only a chain that ends in one of them, with no other fault, is accepted.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>
// clang-format on

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "base/Interruptible.h"
#include "util/HttpsGet.h"
#include "util/ReadRemoteUpdate.h"

namespace rszorvik::util {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLate = "the check did not end within its deadline";

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string errorText(DWORD error) {
    wchar_t* text = nullptr;
    // WinHTTP's errors have their texts in winhttp.dll, the others in the system.
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        GetModuleHandleW(L"winhttp.dll"), error, 0,
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        result.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                            nullptr);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
            result.pop_back();
    }
    if (text) LocalFree(text);
    return "error " + std::to_string(error) + (result.empty() ? std::string() : ": " + result);
}

struct InternetHandle {
    HINTERNET handle = nullptr;
    explicit InternetHandle(HINTERNET h) : handle(h) {}
    ~InternetHandle() {
        if (handle) WinHttpCloseHandle(handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
};

struct CertificateStore {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    CertificateStore() = default;
    ~CertificateStore() {
        if (store) CertCloseStore(store, 0);
    }
    CertificateStore(const CertificateStore&) = delete;
    CertificateStore& operator=(const CertificateStore&) = delete;
};

// Every certificate of a PEM text; throws when there is none or one cannot be read.
void addPemCertificates(HCERTSTORE store, const std::string& pem) {
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    std::size_t added = 0;
    for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
        const std::size_t end = pem.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = pem.substr(at, end + kEnd.size() - at);
        at = end + kEnd.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                  nullptr, &size, nullptr, nullptr))
            throw UpdateIOError("A certificate of the certificate authority file cannot be decoded");
        std::string der(size, '\0');
        CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                             reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                              reinterpret_cast<const BYTE*>(der.data()), size,
                                              CERT_STORE_ADD_USE_EXISTING, nullptr))
            throw UpdateIOError("A certificate of the certificate authority file cannot be read (" +
                                errorText(GetLastError()) + ")");
        ++added;
    }
    if (added == 0) throw UpdateIOError("The certificate authority file holds no PEM certificate");
}

// WinHTTP let an unknown root pass; the server's chain must end in one of the extra authorities and have no
// other fault (WinHTTP itself has checked the host name, the dates and the usage).
void verifyWithExtraAuthorities(HINTERNET request, HCERTSTORE extra) {
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof(server);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) || !server)
        throw UpdateIOError("The server's certificate cannot be read (" + errorText(GetLastError()) + ")");
    std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> serverOwner(
        server, &CertFreeCertificateContext);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, server, nullptr, extra, &para, 0, nullptr, &chain))
        throw UpdateIOError("The server's certificate chain cannot be built (" + errorText(GetLastError()) +
                            ")");
    std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&CertFreeCertificateChain)> chainOwner(
        chain, &CertFreeCertificateChain);
    const DWORD faults = chain->TrustStatus.dwErrorStatus;
    if (faults == CERT_TRUST_NO_ERROR) return;  // trusted by the system itself
    bool rootIsExtra = false;
    if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        PCCERT_CONTEXT match =
            CertFindCertificateInStore(extra, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
        rootIsExtra = match != nullptr;
        if (match) CertFreeCertificateContext(match);
    }
    if (faults != CERT_TRUST_IS_UNTRUSTED_ROOT || !rootIsExtra)
        throw UpdateIOError("The server's certificate is not trusted (chain status " +
                            std::to_string(faults) + ")");
}

// Closes the request when the deadline passes or the calling thread is interrupted: WinHTTP's blocking
// calls then return at once.
class Watchdog {
  public:
    Watchdog(HINTERNET request, Clock::time_point deadline)
        : flag(base::Interruptible::currentFlag()),
          thread([this, request, deadline] { watch(request, deadline); }) {}
    ~Watchdog() { finish(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void finish() {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }
    bool late() const { return fired == Fired::LATE; }
    bool interrupted() const { return fired == Fired::INTERRUPTED; }
    bool closedRequest() const { return fired != Fired::NO; }

  private:
    enum class Fired { NO, LATE, INTERRUPTED };

    void watch(HINTERNET request, Clock::time_point deadline) {
        std::unique_lock lock(mutex);
        while (!done) {
            if (flag->isSet()) {
                fired = Fired::INTERRUPTED;
            } else if (Clock::now() >= deadline) {
                fired = Fired::LATE;
            } else {
                // The interruption flag has no wake-up of its own here: looked at a few times a second.
                wake.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(50)));
                continue;
            }
            WinHttpCloseHandle(request);
            return;
        }
    }

    std::shared_ptr<base::InterruptFlag> flag;
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    Fired fired = Fired::NO;
    std::thread thread;
};

// Wine reports a silent socket with the socket's own error instead of WinHTTP's.
bool isTimeout(DWORD error) {
    return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT;
}

}  // namespace

namespace {

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

struct Answer {
    DWORD status = 0;
    std::string body;
    std::string location;  // of a redirect, as absolute address
};

// One request, no redirect followed: each server on the way gets its certificate checked.
Answer fetchOnce(HINTERNET session, const std::string& url, HCERTSTORE extra, const HttpsGetLimits& limits) {
    const std::wstring wideUrl = widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &parts))
        throw UpdateIOError("The address cannot be read: " + url, errorText(GetLastError()));
    if (parts.nScheme != INTERNET_SCHEME_HTTPS)
        throw UpdateIOError("Only https addresses are fetched: " + url);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    InternetHandle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (!connection.handle)
        throw UpdateIOError("Cannot reach the server (" + errorText(GetLastError()) + ")");
    HINTERNET request =
        WinHttpOpenRequest(connection.handle, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!request) throw UpdateIOError("Cannot make the request (" + errorText(GetLastError()) + ")");
    const int connectMs = static_cast<int>(limits.connectTimeout.count());
    const int readMs = static_cast<int>(limits.readTimeout.count());
    // Wine takes the timeouts from the request only.
    WinHttpSetTimeouts(request, connectMs, connectMs, readMs, readMs);
    DWORD responseMs = static_cast<DWORD>(readMs);
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs));
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects));
    if (extra) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    }

    Answer answer;
    DWORD failure = 0;
    bool tooLong = false;
    std::exception_ptr refused;  // the certificate check's verdict
    Watchdog watchdog(request, limits.deadline);
    const auto fail = [&failure] {
        failure = GetLastError();
        return false;
    };
    const bool ok = [&] {
        if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
            return fail();
        if (!WinHttpReceiveResponse(request, nullptr)) return fail();
        if (extra) {
            try {
                verifyWithExtraAuthorities(request, extra);
            } catch (const UpdateIOError&) {
                refused = std::current_exception();
                return false;
            }
        }
        DWORD size = sizeof(answer.status);
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &answer.status, &size,
                                 WINHTTP_NO_HEADER_INDEX))
            return fail();
        if (answer.status >= 300 && answer.status <= 399) {
            wchar_t location[2048] = {};
            DWORD bytes = sizeof(location) - sizeof(wchar_t);
            if (WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location,
                                    &bytes, WINHTTP_NO_HEADER_INDEX)) {
                std::wstring target(location, bytes / sizeof(wchar_t));
                // A path on the same server.
                if (!target.empty() && target.front() == L'/')
                    target = L"https://" + host + L":" + std::to_wstring(parts.nPort) + target;
                answer.location = narrow(target);
            }
            return true;
        }
        if (answer.status < 200 || answer.status > 299) return true;
        char buffer[8192];
        for (;;) {
            DWORD read = 0;
            if (!WinHttpReadData(request, buffer, sizeof(buffer), &read)) return fail();
            if (read == 0) return true;
            if (read > limits.maxBytes - answer.body.size()) {
                tooLong = true;
                return true;
            }
            answer.body.append(buffer, read);
        }
    }();
    watchdog.finish();
    if (!watchdog.closedRequest()) WinHttpCloseHandle(request);

    if (watchdog.interrupted()) {
        base::Interruptible::checkInterrupted();
        throw base::InterruptedError();
    }
    if (watchdog.late()) throw UpdateIOError("Timeout", kLate);
    if (refused) std::rethrow_exception(refused);
    if (!ok) {
        if (isTimeout(failure)) throw UpdateIOError("Timeout", errorText(failure));
        throw UpdateIOError("The transfer failed (" + errorText(failure) + ")", errorText(failure));
    }
    if (tooLong)
        throw UpdateIOError("The answer is longer than " + std::to_string(limits.maxBytes) + " bytes");
    return answer;
}

}  // namespace

std::string httpsGet(const std::string& url, const std::string& extraAuthorities,
                     const HttpsGetLimits& limits) {
    if (limits.deadline <= Clock::now()) throw UpdateIOError("Timeout", kLate);
    CertificateStore extra;
    if (!extraAuthorities.empty()) {
        if (!extra.store) throw UpdateIOError("No certificate store (" + errorText(GetLastError()) + ")");
        addPemCertificates(extra.store, extraAuthorities);
    }
    // The system's proxy settings (automatic configuration included, from Windows 8.1 on).
    InternetHandle session(WinHttpOpen(L"zorvik", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.handle)
        session.handle = WinHttpOpen(L"zorvik", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session.handle) throw UpdateIOError("WinHTTP cannot start (" + errorText(GetLastError()) + ")");

    // Redirects are followed here rather than by WinHTTP, so that every server's certificate is checked
    // against the extra authorities and every address is an https one.
    constexpr int kMaxRedirects = 5;
    std::string address = url;
    for (int redirects = 0;; ++redirects) {
        Answer answer =
            fetchOnce(session.handle, address, extraAuthorities.empty() ? nullptr : extra.store, limits);
        if (answer.status >= 200 && answer.status <= 299) return std::move(answer.body);
        if (answer.status < 300 || answer.status > 399 || answer.location.empty())
            throw UpdateIOError("The server answered with HTTP status " + std::to_string(answer.status));
        if (redirects == kMaxRedirects)
            throw UpdateIOError("More than " + std::to_string(kMaxRedirects) + " redirects");
        address = answer.location;
    }
}

}  // namespace rszorvik::util
