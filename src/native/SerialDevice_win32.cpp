// Serial devices over the Win32 communications API: one overlapped handle per port, reads and waits
// driven by ClearCommError and WaitCommEvent, modem lines through GetCommModemStatus and
// EscapeCommFunction.
//
// Wine's emulation of a port on a Linux pseudo-terminal differs from a Windows driver in ways this file
// allows for at no cost on Windows:
// - an overlapped WaitCommEvent completes every 10-30 ms with ERROR_OPERATION_ABORTED and an empty mask,
//   and reports EV_RXCHAR only for bytes already queued: an aborted wait is taken as "look again", and
//   the driver's queue (ClearCommError) is what tells whether bytes wait, never the event mask alone;
// - an overlapped ReadFile that asks for more than is queued may block until the terminal closes: reads
//   ask for exactly what ClearCommError reported as queued;
// - the event of a pending WaitCommEvent is at times set before the wait has ended, and a cancelled one at
//   times never ends: the wait lives in a block of the device's own, left pending between calls and given
//   up rather than freed if it has not ended a second after its cancel at close;
// - GetCommModemStatus and EscapeCommFunction fail with ERROR_NOT_SUPPORTED, as ioctls on a
//   pseudo-terminal do: that counts as lines that are off, as it does for pseudo-terminals on Linux.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/Utf8.h"
#include "native/SerialDevice.h"
#include "native/Win32Calls.h"

namespace zsp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kIndexRates[] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                                        19200, 38400, 57600, 115200, 230400, 460800, 921600};

// Longest wait for an overlapped read of bytes the driver already holds.
constexpr DWORD kQueuedReadPatience = 2000;

std::int32_t systemError(DWORD error) {
    return ZSP_ERR_SYSTEM + static_cast<std::int32_t>(error);
}

std::int32_t openError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ZSP_ERR_NOT_FOUND;
        // A COM port is opened exclusively: refused access means another program holds it.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return ZSP_ERR_IN_USE;
        case ERROR_BUSY:
            return ZSP_ERR_BUSY;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_DIRECTORY:
            return ZSP_ERR_NOT_VALID;
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_REMOVED:
            return ZSP_ERR_NO_DEVICE;
        default:
            return systemError(error);
    }
}

// What a failed read, write or status query means: a device that went away (a USB adapter pulled, under
// Wine the other side of a pseudo-terminal closed), or another failure of the system.
std::int32_t ioError(DWORD error) {
    switch (error) {
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_ACCESS_DENIED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:
            return ZSP_ERR_NO_DEVICE;
        default:
            return systemError(error);
    }
}

// A device without modem lines or break (a pseudo-terminal under Wine, some virtual ports) refuses the
// request as such, which is not a failure of the port.
bool notOffered(DWORD error) {
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_PARAMETER;
}

std::wstring widen(std::string_view text) {
    const std::u16string units = rszorvik::base::utf8::toUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::int64_t millisecondsLeft(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

DWORD waitTime(std::int64_t milliseconds) {
    return static_cast<DWORD>(std::clamp<std::int64_t>(milliseconds, 0, INFINITE - 1));
}

// An event object owned for the life of the device.
class EventObject {
  public:
    explicit EventObject(bool manualReset) : handle(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~EventObject() {
        if (handle != nullptr) CloseHandle(handle);
    }
    EventObject(const EventObject&) = delete;
    EventObject& operator=(const EventObject&) = delete;
    HANDLE get() const { return handle; }

  private:
    HANDLE handle;
};

// Waits up to `timeout` ms (INFINITE: no limit) for an overlapped operation to end: WAIT_OBJECT_0 once it
// has, else what the wait answered. The operation itself is asked, not only its event: Wine sets the event
// of a WaitCommEvent at times before the operation's status is in place (it writes that on the issuing
// thread's next wait), and an OVERLAPPED or buffer given up then is written later by the system.
DWORD awaitOverlapped(OVERLAPPED& overlapped, DWORD timeout) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (HasOverlappedIoCompleted(&overlapped)) return WAIT_OBJECT_0;
        DWORD left = INFINITE;
        if (timeout != INFINITE) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= timeout) return WAIT_TIMEOUT;
            left = static_cast<DWORD>(timeout - spent);
        }
        const DWORD waited = WaitForSingleObject(overlapped.hEvent, left);
        if (HasOverlappedIoCompleted(&overlapped)) return WAIT_OBJECT_0;
        if (waited != WAIT_OBJECT_0) return waited;
        // Signalled early: a short alertable sleep is the wait in which the status arrives (Wine's plain
        // Sleep never asks its server, so the status would never come). The event stays set, so waiting on
        // it again would only spin.
        SleepEx(1, TRUE);
    }
}

// What an overlapped operation writes into or reads from until it ends: its OVERLAPPED, its event, the
// event mask of a WaitCommEvent and the bytes of a read or write. It lives on the heap, never on a stack.
struct IoBlock {
    OVERLAPPED overlapped{};
    EventObject event{true};
    DWORD mask = 0;
    std::vector<std::uint8_t> bytes;
    bool pending = false;

    OVERLAPPED* start() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        mask = 0;
        return &overlapped;
    }
};

// Longest wait for a cancelled operation to end.
constexpr DWORD kCancelPatience = 1000;

// Cancels the operation of `block` and waits a bounded time for it to end; answers the bytes it moved.
// One that has not ended by then (Wine at times never ends a cancelled WaitCommEvent) keeps its block:
// the block is given up, not freed, so the system never writes into freed memory and nothing hangs.
DWORD cancelOverlapped(HANDLE port, std::unique_ptr<IoBlock>& block) {
    if (block == nullptr || !block->pending) return 0;
    CancelIoEx(port, &block->overlapped);
    if (awaitOverlapped(block->overlapped, kCancelPatience) != WAIT_OBJECT_0) {
        static_cast<void>(block.release());  // deliberately leaked, see above
        return 0;
    }
    block->pending = false;
    DWORD moved = 0;
    GetOverlappedResult(port, &block->overlapped, &moved, FALSE);
    return moved;
}

struct DriverStatus {
    DWORD errors = 0;
    DWORD inQueue = 0;
    DWORD outQueue = 0;
};

bool readStatus(HANDLE port, DriverStatus& status) {
    COMSTAT stat{};
    if (!win32::calls().clearCommError(port, &status.errors, &stat)) return false;
    status.inQueue = stat.cbInQue;
    status.outQueue = stat.cbOutQue;
    return true;
}

bool setLine(HANDLE port, DWORD function) {
    return win32::calls().escapeCommFunction(port, function) || notOffered(GetLastError());
}

class Win32Device final : public Device {
  public:
    Win32Device(HANDLE handle, const DCB& savedState, const COMMTIMEOUTS& savedTimeouts, bool dtr, bool rts)
        : port(handle),
          savedDcb(savedState),
          savedCommTimeouts(savedTimeouts),
          dtrOn(dtr),
          rtsOn(rts),
          queue(4096) {}

    ~Win32Device() override {
        cancelOverlapped(port, commWait);
        // Leave the port as it was found.
        DCB dcb = savedDcb;
        COMMTIMEOUTS timeouts = savedCommTimeouts;
        SetCommState(port, &dcb);
        SetCommTimeouts(port, &timeouts);
        CloseHandle(port);
    }

    std::int32_t configure(const ZspConfig& c) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(port, &dcb)) return systemError(GetLastError());
        if (c.bitRate >= 0 && c.bitRate < 15) {
            dcb.BaudRate = static_cast<DWORD>(kIndexRates[c.bitRate]);
        } else if (c.bitRate > 30) {
            dcb.BaudRate = static_cast<DWORD>(c.bitRate);
        } else {
            return ZSP_ERR_BAD_SETTING;
        }
        if (c.dataBits < 0 || c.dataBits > 3) return ZSP_ERR_BAD_SETTING;
        dcb.ByteSize = static_cast<BYTE>(5 + c.dataBits);
        if (c.stopBits == 0) {
            dcb.StopBits = ONESTOPBIT;
        } else if (c.stopBits == 1) {
            // With 5 data bits a UART's second stop bit is one and a half; Windows refuses TWOSTOPBITS there.
            dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
        } else {
            return ZSP_ERR_BAD_SETTING;
        }
        static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
        if (c.parity < 0 || c.parity > 4) return ZSP_ERR_BAD_SETTING;
        dcb.Parity = kParity[c.parity];
        dcb.fParity = c.parity != 0;

        bool hardIn = false, hardOut = false, dsrFlow = false, softIn = false, softOut = false;
        if (c.handshake == 1) {
            softIn = softOut = true;
        } else if (c.handshake == 2) {
            hardIn = hardOut = true;
        } else if (c.handshake == 3) {
            dsrFlow = true;
        } else if (c.handshake >= 0x10 && c.handshake <= 0xF0 && (c.handshake & 0x0F) == 0) {
            hardIn = (c.handshake & 0x10) != 0;
            hardOut = (c.handshake & 0x20) != 0;
            softIn = (c.handshake & 0x40) != 0;
            softOut = (c.handshake & 0x80) != 0;
        } else if (c.handshake != 0) {
            return ZSP_ERR_BAD_SETTING;
        }
        dcb.fBinary = TRUE;
        dcb.fOutxCtsFlow = hardOut;
        dcb.fOutxDsrFlow = dsrFlow;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = softOut;
        dcb.fInX = softIn;
        dcb.fTXContinueOnXoff = TRUE;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        {
            // Lines that no handshake drives keep the state the caller gave them.
            std::lock_guard lock(lineMutex);
            dcb.fDtrControl =
                dsrFlow ? DTR_CONTROL_HANDSHAKE : (dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE);
            dcb.fRtsControl =
                hardIn ? RTS_CONTROL_HANDSHAKE : (rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
        }
        if (!SetCommState(port, &dcb)) {
            const DWORD error = GetLastError();
            return error == ERROR_INVALID_PARAMETER ? ZSP_ERR_BAD_SETTING : systemError(error);
        }
        const auto rxLen = static_cast<DWORD>(std::clamp(c.rxLen, 256, 1 << 20));
        const auto txLen = static_cast<DWORD>(std::clamp(c.txLen, 256, 1 << 20));
        SetupComm(port, rxLen, txLen);  // only a recommendation; a driver may keep its own sizes

        std::lock_guard lock(queueMutex);
        resizeQueueLocked(rxLen);
        return ZSP_OK;
    }

    std::int32_t read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::int32_t got = 0;
        for (;;) {
            bool healthy;
            bool endedAtError = false;
            {
                std::lock_guard lock(queueMutex);
                healthy = fillLocked();
                got += popLocked(buffer + got, count - got, endedAtError);
            }
            if (got == count) return got;
            if (!healthy) return got > 0 ? got : -1;
            if (timeoutMs <= 0 || millisecondsLeft(deadline) <= 0 || endedAtError) return got;
            const std::int32_t events = waitForPort(millisecondsLeft(deadline), false);
            if (events < 0 || (events & ZSP_WAIT_HANGUP) != 0) {
                std::lock_guard lock(queueMutex);
                got += popLocked(buffer + got, count - got, endedAtError);
                return got > 0 ? got : -1;
            }
        }
    }

    std::int32_t write(const std::uint8_t* data, std::int32_t count, std::int32_t timeoutMs,
                       std::int32_t& errorCode) override {
        std::lock_guard lock(writeMutex);
        errorCode = ZSP_OK;
        if (writeBlock == nullptr) writeBlock = std::make_unique<IoBlock>();
        // The system reads the bytes until the write ends, which may be after a given-up cancel.
        writeBlock->bytes.assign(data, data + count);
        OVERLAPPED* overlapped = writeBlock->start();
        DWORD sent = 0;
        if (win32::calls().writeFile(port, writeBlock->bytes.data(), static_cast<DWORD>(count), &sent,
                                     overlapped)) {
            GetOverlappedResult(port, overlapped, &sent, FALSE);
        } else if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
            errorCode = ioError(error);
            return 0;
        } else {
            writeBlock->pending = true;
            const DWORD waited = awaitOverlapped(*overlapped, timeoutMs > 0 ? waitTime(timeoutMs) : INFINITE);
            if (waited != WAIT_OBJECT_0) {
                sent = cancelOverlapped(port, writeBlock);
                errorCode = ZSP_ERR_TIMEOUT;
            } else {
                writeBlock->pending = false;
                if (!GetOverlappedResult(port, overlapped, &sent, FALSE)) errorCode = ioError(GetLastError());
            }
        }
        if (errorCode == ZSP_OK && sent < static_cast<DWORD>(count)) errorCode = ZSP_ERR_TIMEOUT;
        return static_cast<std::int32_t>(sent);
    }

    std::int32_t wait(std::int32_t timeoutMs) override { return waitForPort(timeoutMs, true); }

    std::int32_t wake() override { return SetEvent(wakeEvent.get()) ? 0 : -1; }

    std::int32_t flushRx() override {
        if (!PurgeComm(port, PURGE_RXCLEAR)) return -1;
        std::lock_guard lock(queueMutex);
        queueHead = queuedCount = 0;
        pendingFlags = 0;
        return 0;
    }

    std::int32_t flushTx() override { return PurgeComm(port, PURGE_TXCLEAR | PURGE_TXABORT) ? 0 : -1; }

    std::int32_t drain(std::int32_t timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            DriverStatus status;
            if (!readStatus(port, status)) return -1;
            {
                std::lock_guard lock(queueMutex);
                noteErrors(status.errors);
            }
            if (status.outQueue == 0) break;
            if (timeoutMs > 0 && millisecondsLeft(deadline) <= 0) return -1;
            Sleep(2);
        }
        // The driver's queue is empty; the last bytes may still be in the UART.
        return FlushFileBuffers(port) || notOffered(GetLastError()) ? 0 : -1;
    }

    std::int32_t rxReady() override {
        std::lock_guard lock(queueMutex);
        if (!fillLocked()) return -1;
        DriverStatus status;
        if (!readStatus(port, status)) return -1;
        noteErrors(status.errors);
        const auto ready = static_cast<std::int64_t>(queuedCount) + status.inQueue;
        return static_cast<std::int32_t>(std::min<std::int64_t>(ready, INT32_MAX));
    }

    std::int32_t txPending() override {
        DriverStatus status;
        if (!readStatus(port, status)) return -1;
        std::lock_guard lock(queueMutex);
        noteErrors(status.errors);
        return static_cast<std::int32_t>(std::min<DWORD>(status.outQueue, INT32_MAX));
    }

    std::int32_t line(Line which) override {
        DWORD bits = 0;
        if (!win32::calls().getCommModemStatus(port, &bits)) return notOffered(GetLastError()) ? 0 : -1;
        switch (which) {
            case Line::CTS:
                return (bits & MS_CTS_ON) != 0;
            case Line::DSR:
                return (bits & MS_DSR_ON) != 0;
            case Line::CD:
                return (bits & MS_RLSD_ON) != 0;
            case Line::RI:
                return (bits & MS_RING_ON) != 0;
        }
        return -1;
    }

    std::int32_t setOutput(Output which, bool on) override {
        std::lock_guard lock(lineMutex);
        const DWORD function = which == Output::DTR ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
        if (!setLine(port, function)) return -1;
        (which == Output::DTR ? dtrOn : rtsOn) = on;
        return 0;
    }

    std::int32_t takeEvent(Event which) override {
        std::lock_guard lock(queueMutex);
        switch (which) {
            case Event::ParityErr:
                return std::exchange(parityError, false);
            case Event::FrameErr:
                return std::exchange(frameError, false);
            case Event::Break:
            case Event::Overrun:
            case Event::Overflow:
                if (!fillLocked()) return -1;
                if (which == Event::Break) return std::exchange(breakSeen, false);
                if (which == Event::Overrun) return std::exchange(overrun, false);
                return std::exchange(overflowed, false);
        }
        return -1;
    }

    std::int32_t sendBreak(std::int32_t milliseconds) override {
        if (!SetCommBreak(port)) return notOffered(GetLastError()) ? 0 : -1;
        // A duration of 0 asks for the usual break of a quarter to half a second.
        Sleep(static_cast<DWORD>(milliseconds > 0 ? milliseconds : 250));
        return ClearCommBreak(port) ? 0 : -1;
    }

    // The driver does the flow control itself; a step only paces the caller's loop.
    std::int32_t flowStep() override {
        Sleep(50);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        return GetCommState(port, &dcb) ? 0 : -1;
    }

  private:
    static constexpr std::uint16_t kParity = 0x100;
    static constexpr std::uint16_t kFrame = 0x200;

    // Waits until bytes are queued, the device fails (gone: a USB adapter pulled, the other side of a
    // pseudo-terminal closed under Wine) or, with wakeable, wake() is called; the ZSP_WAIT_ bits.
    std::int32_t waitForPort(std::int64_t timeoutMs, bool wakeable) {
        std::lock_guard waitLock(waitMutex);
        const bool forever = timeoutMs < 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
        for (;;) {
            {
                std::lock_guard lock(queueMutex);
                if (queuedCount > 0) return ZSP_WAIT_INPUT;
                DriverStatus status;
                if (!readStatus(port, status)) return ZSP_WAIT_HANGUP;
                noteErrors(status.errors);
                if (status.inQueue > 0) return ZSP_WAIT_INPUT;
            }
            if (wakeable && WaitForSingleObject(wakeEvent.get(), 0) == WAIT_OBJECT_0) return ZSP_WAIT_WOKEN;
            const std::int64_t left = millisecondsLeft(deadline);
            if (!forever && left <= 0) return 0;

            // One WaitCommEvent at most is out; one left pending by an earlier call is taken up here.
            if (!commWait->pending) {
                OVERLAPPED* overlapped = commWait->start();
                if (win32::calls().waitCommEvent(port, &commWait->mask, overlapped))
                    continue;  // something happened already: look
                if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
                    if (error == ERROR_OPERATION_ABORTED) continue;
                    return ZSP_WAIT_HANGUP;
                }
                commWait->pending = true;
            }
            const HANDLE handles[] = {commWait->event.get(), wakeEvent.get()};
            const DWORD waited =
                WaitForMultipleObjects(wakeable ? 2 : 1, handles, FALSE, forever ? INFINITE : waitTime(left));
            if (waited == WAIT_OBJECT_0) {
                if (!HasOverlappedIoCompleted(&commWait->overlapped)) {
                    // Signalled before the status is in place (see awaitOverlapped): an alertable sleep
                    // lets it arrive.
                    SleepEx(1, TRUE);
                    continue;
                }
                commWait->pending = false;
                DWORD ignored = 0;
                if (!GetOverlappedResult(port, &commWait->overlapped, &ignored, FALSE) &&
                    GetLastError() != ERROR_OPERATION_ABORTED)
                    return ZSP_WAIT_HANGUP;
                continue;  // the queue, looked at above, tells what came
            }
            // Timed out or woken: the wait stays pending in its block for the next call.
            if (waited == WAIT_OBJECT_0 + 1) return ZSP_WAIT_WOKEN;
            return waited == WAIT_TIMEOUT ? 0 : -1;
        }
    }

    // Remembers the line errors the driver reported (queueMutex held); a parity or framing error belongs to
    // the bytes the driver holds now, so it is tied to the last of them once they are read.
    void noteErrors(DWORD errors) {
        if (errors & CE_RXPARITY) pendingFlags |= kParity;
        if (errors & CE_FRAME) pendingFlags |= kFrame;
        if (errors & CE_BREAK) breakSeen = true;
        if (errors & CE_OVERRUN) overrun = true;
        if (errors & CE_RXOVER) overflowed = true;
    }

    void resizeQueueLocked(std::size_t capacity) {
        if (capacity == queue.size()) return;
        std::vector<std::uint16_t> resized(std::max(capacity, queuedCount));
        for (std::size_t i = 0; i < queuedCount; ++i)
            resized[i] = queue[(queueHead + i) % queue.size()];
        queue.swap(resized);
        queueHead = 0;
    }

    // Moves what the driver holds into the queue, as far as it has room. False when the device failed.
    bool fillLocked() {
        DriverStatus status;
        if (!readStatus(port, status)) return false;
        noteErrors(status.errors);
        const std::size_t room = queue.size() - queuedCount;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>({status.inQueue, room, 1 << 16}));
        if (want == 0) return true;
        if (readBlock == nullptr) readBlock = std::make_unique<IoBlock>();
        std::vector<std::uint8_t>& raw = readBlock->bytes;
        raw.resize(want);
        OVERLAPPED* overlapped = readBlock->start();
        DWORD got = 0;
        if (!win32::calls().readFile(port, raw.data(), want, &got, overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            readBlock->pending = true;
            if (awaitOverlapped(*overlapped, kQueuedReadPatience) == WAIT_OBJECT_0) {
                readBlock->pending = false;
                if (!GetOverlappedResult(port, overlapped, &got, FALSE)) return false;
            } else {
                got = cancelOverlapped(port, readBlock);
                if (readBlock == nullptr) return true;  // given up: what it may still read is lost
            }
        } else {
            GetOverlappedResult(port, overlapped, &got, FALSE);
        }
        for (DWORD i = 0; i < got; ++i) {
            std::uint16_t entry = raw[i];
            if (i + 1 == got) entry |= std::exchange(pendingFlags, std::uint16_t{0});
            queue[(queueHead + queuedCount) % queue.size()] = entry;
            ++queuedCount;
        }
        return true;
    }

    // Stops after a byte with an error (endedAtError), so the caller can tie the error signals to it.
    std::int32_t popLocked(std::uint8_t* buffer, std::int32_t count, bool& endedAtError) {
        std::int32_t n = 0;
        while (n < count && queuedCount > 0) {
            const std::uint16_t entry = queue[queueHead];
            queueHead = (queueHead + 1) % queue.size();
            --queuedCount;
            buffer[n++] = static_cast<std::uint8_t>(entry & 0xFF);
            if ((entry & (kParity | kFrame)) != 0) {
                if (entry & kParity) parityError = true;
                if (entry & kFrame) frameError = true;
                endedAtError = true;
                break;
            }
        }
        return n;
    }

    const HANDLE port;
    const DCB savedDcb;
    const COMMTIMEOUTS savedCommTimeouts;
    const EventObject wakeEvent{false};  // auto-reset: a wake-up is taken by the wait it ends
    std::mutex waitMutex;
    std::unique_ptr<IoBlock> commWait = std::make_unique<IoBlock>();  // waitMutex held
    std::mutex writeMutex;
    std::unique_ptr<IoBlock> writeBlock;  // writeMutex held; null after a given-up cancel
    std::mutex lineMutex;
    bool dtrOn;
    bool rtsOn;
    std::mutex queueMutex;
    std::unique_ptr<IoBlock> readBlock;  // queueMutex held; null after a given-up cancel
    std::vector<std::uint16_t> queue;    // received bytes with their error flags
    std::size_t queueHead = 0;
    std::size_t queuedCount = 0;
    std::uint16_t pendingFlags = 0;
    bool parityError = false;
    bool frameError = false;
    bool breakSeen = false;
    bool overrun = false;
    bool overflowed = false;
};

std::string bytesUpToNul(const char* text, std::int32_t length) {
    if (text == nullptr || length <= 0) return {};
    const auto* end = static_cast<const char*>(std::memchr(text, '\0', static_cast<std::size_t>(length)));
    return std::string(text, end ? static_cast<std::size_t>(end - text) : static_cast<std::size_t>(length));
}

// The name without the device namespace prefix, letters in capitals: "\\.\com3" is COM3.
std::string canonicalName(const std::string& path) {
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0) name.erase(0, 4);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

// A handle to the device, opened for overlapped I/O as every port of this module is.
HANDLE openHandle(const std::string& path, DWORD& error) {
    const HANDLE handle = CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    return handle;
}

// Raw bytes and no flow control until the first configure: nothing the previous user set may alter the
// data.
void makeRaw(DCB& dcb) {
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

}  // namespace

std::int32_t resolveDevicePath(const ZspConfig& config, std::string& path) {
    if (config.portNameLength > ZSP_MAX_NAME || config.baseNameLength > ZSP_MAX_NAME)
        return ZSP_ERR_NOT_VALID;
    const std::string name = bytesUpToNul(config.portName, config.portNameLength);
    if (!name.empty()) {
        // COM10 and above are only reached through the device namespace; the prefix does no harm below.
        path = name.rfind("\\\\", 0) == 0 ? name : "\\\\.\\" + name;
        return ZSP_OK;
    }
    if (config.port > 0) {
        const std::string base = bytesUpToNul(config.baseName, config.baseNameLength);
        path = "\\\\.\\" + (base.empty() ? std::string("COM") : base) + std::to_string(config.port);
        return ZSP_OK;
    }
    return ZSP_ERR_NOT_VALID;
}

// COMn is keyed by its number, so "com3" and "\\.\COM3" are one port; other device names by their text.
std::int32_t deviceKeyOf(const std::string& path, DeviceKey& key) {
    const std::string name = canonicalName(path);
    if (name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        name.size() < 10) {
        key = {0, std::stoull(name.substr(3))};
        return ZSP_OK;
    }
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    key = {1, hash};
    return ZSP_OK;
}

std::int32_t openDevice(const std::string& path, std::unique_ptr<Device>& device) {
    DWORD error = ERROR_SUCCESS;
    const HANDLE handle = openHandle(path, error);
    if (handle == INVALID_HANDLE_VALUE) return openError(error);
    DCB saved{};
    saved.DCBlength = sizeof saved;
    COMMTIMEOUTS savedTimeouts{};
    // A disk file or a pipe opens too; only a communications device answers these.
    if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &saved) ||
        !GetCommTimeouts(handle, &savedTimeouts)) {
        CloseHandle(handle);
        return ZSP_ERR_NOT_VALID;
    }
    DCB raw = saved;
    makeRaw(raw);
    // Reads return at once with what the driver holds; this module does its own waiting.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommState(handle, &raw) || !SetCommTimeouts(handle, &timeouts) ||
        !SetCommMask(handle, EV_RXCHAR | EV_ERR | EV_BREAK)) {
        error = GetLastError();
        SetCommState(handle, &saved);
        CloseHandle(handle);
        return systemError(error);
    }
    device =
        std::make_unique<Win32Device>(handle, saved, savedTimeouts, raw.fDtrControl == DTR_CONTROL_ENABLE,
                                      raw.fRtsControl == RTS_CONTROL_ENABLE);
    return ZSP_OK;
}

std::int32_t resetDriver(const std::string& path) {
    DWORD error = ERROR_SUCCESS;
    const HANDLE handle = openHandle(path, error);
    if (handle == INVALID_HANDLE_VALUE) return openError(error);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        CloseHandle(handle);
        return ZSP_ERR_NOT_VALID;
    }
    makeRaw(dcb);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    const bool applied = SetCommState(handle, &dcb);
    error = applied ? ERROR_SUCCESS : GetLastError();
    setLine(handle, CLRDTR);  // lines off, where the device has them
    setLine(handle, CLRRTS);
    CloseHandle(handle);
    return applied ? ZSP_OK : systemError(error);
}

}  // namespace zsp
