#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/PseudoTerminal.h"

namespace rszorvik::test {
namespace {

struct PortPair {
    std::string port;  // the port under test
    std::string peer;  // the test's side
};

// "COM20:COM21;COM22:COM23;..." from the test runner.
std::vector<PortPair> offeredPairs() {
    std::vector<PortPair> pairs;
    const char* text = std::getenv("ZORVIK_TEST_PORT_PAIRS");
    std::string rest = text != nullptr ? text : "";
    while (!rest.empty()) {
        const auto end = rest.find(';');
        const std::string entry = rest.substr(0, end);
        rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
        if (const auto colon = entry.find(':'); colon != std::string::npos)
            pairs.push_back({entry.substr(0, colon), entry.substr(colon + 1)});
    }
    return pairs;
}

// Each pair serves one test: its bytes and its hang-up belong to that test.
PortPair nextPair() {
    static const std::vector<PortPair> pairs = offeredPairs();
    static std::atomic<std::size_t> used{0};
    const std::size_t index = used++;
    if (index >= pairs.size())
        throw std::runtime_error("no pseudo-terminal pair left: the test runner offers " +
                                 std::to_string(pairs.size()) + " in ZORVIK_TEST_PORT_PAIRS");
    return pairs[index];
}

// Waits until the pairs have marked what the test did on the instrument's side ("opened", "hungup").
void awaitMark(const std::string& peer, const char* what) {
    const char* marks = std::getenv("ZORVIK_TEST_PORT_PAIRS_MARKS");
    if (marks == nullptr) throw std::runtime_error("ZORVIK_TEST_PORT_PAIRS_MARKS is not set");
    const std::string mark = std::string(marks) + "\\" + peer + "." + what;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the pairs did not see " + peer + " " + what);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

struct Pty::Side {
    HANDLE peer = INVALID_HANDLE_VALUE;
    std::string peerName;
    ~Side() {
        if (peer != INVALID_HANDLE_VALUE) CloseHandle(peer);
    }
};

Pty::Pty() : side(std::make_unique<Side>()) {
    const PortPair pair = nextPair();
    portName = pair.port;
    side->peerName = pair.peer;
    const std::string path = "\\\\.\\" + pair.peer;
    side->peer =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (side->peer == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + pair.peer + ": error " + std::to_string(GetLastError()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(side->peer, &dcb);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommState(side->peer, &dcb) || !SetCommTimeouts(side->peer, &immediate))
        throw std::runtime_error("cannot set up " + pair.peer);
    PurgeComm(side->peer, PURGE_RXCLEAR | PURGE_TXCLEAR);
    awaitMark(pair.peer, "opened");
}

Pty::~Pty() = default;

void Pty::send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(side->peer, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr))
            throw std::runtime_error("write to the test's port failed: error " +
                                     std::to_string(GetLastError()));
        done += written;
    }
}

std::string Pty::receive(std::size_t count) const {
    std::string text;
    auto quietSince = std::chrono::steady_clock::now();
    while (text.size() < count && std::chrono::steady_clock::now() - quietSince < std::chrono::seconds(5)) {
        // Only what is queued is asked for, so the read never waits.
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(side->peer, &errors, &status)) break;
        char buffer[4096];
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(status.cbInQue, sizeof buffer);
        if (want > 0 && !ReadFile(side->peer, buffer, want, &got, nullptr)) break;
        if (got == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        text.append(buffer, got);
        quietSince = std::chrono::steady_clock::now();
    }
    return text;
}

// The pairs hang the port's side up a few milliseconds after the close, and mark when they have.
void Pty::closeMaster() {
    if (side->peer == INVALID_HANDLE_VALUE) return;
    CloseHandle(side->peer);
    side->peer = INVALID_HANDLE_VALUE;
    const char* marks = std::getenv("ZORVIK_TEST_PORT_PAIRS_MARKS");
    if (marks == nullptr) throw std::runtime_error("ZORVIK_TEST_PORT_PAIRS_MARKS is not set");
    const std::string mark = std::string(marks) + "\\" + side->peerName + ".hungup";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error(portName + " did not hang up");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace rszorvik::test
