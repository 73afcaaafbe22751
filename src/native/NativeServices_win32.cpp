// Host-wide services of the module on Windows: device arrival and removal, the single-instance lock and
// the power status.

#include <windows.h>
// clang-format off: dbt.h needs the types of windows.h
#include <dbt.h>
// clang-format on

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "native/SerialDevice.h"

namespace zsp {
namespace {

// A message-only window on a thread of its own, registered for the arrival and removal of devices with the
// COM port interface (USB and Bluetooth serial ports register it). A message-only window needs no desktop,
// so this also works in a service or under a Wine without a display.
struct Notifier {
    ZspDeviceNotification callback = nullptr;
    void* context = nullptr;
    HWND window = nullptr;
    std::thread thread;
};

constexpr const wchar_t* kWindowClass = L"zspWinDeviceNotification";
// GUID_DEVINTERFACE_COMPORT (ntddser.h).
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        auto* notifier = reinterpret_cast<Notifier*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (header != nullptr && notifier != nullptr &&
            (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE ||
             header->dbch_devicetype == DBT_DEVTYP_PORT))
            notifier->callback(notifier->context);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class Registry {
  public:
    ~Registry() {
        std::lock_guard lock(registryMutex);
        stopLocked();
    }

    std::int32_t start(ZspDeviceNotification callback, void* context) {
        std::lock_guard guard(registryMutex);
        stopLocked();
        auto notifier = std::make_shared<Notifier>();
        notifier->callback = callback;
        notifier->context = context;
        std::mutex readyMutex;
        std::condition_variable ready;
        bool started = false;
        Notifier* raw = notifier.get();
        // The thread holds its own reference, so stopping from inside the callback is safe.
        raw->thread = std::thread([self = notifier, raw, &readyMutex, &ready, &started] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = windowProcedure;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = kWindowClass;
            RegisterClassW(&windowClass);  // fails harmlessly when registered by an earlier start
            HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          windowClass.hInstance, nullptr);
            HDEVNOTIFY registration = nullptr;
            if (window != nullptr) {
                SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(raw));
                DEV_BROADCAST_DEVICEINTERFACE_W filter{};
                filter.dbcc_size = sizeof filter;
                filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
                filter.dbcc_classguid = kComPortInterface;
                registration = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
                if (registration == nullptr) {
                    DestroyWindow(window);
                    window = nullptr;
                }
            }
            {
                std::lock_guard lock(readyMutex);
                raw->window = window;
                started = true;
            }
            ready.notify_one();
            if (window == nullptr) return;
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
            UnregisterDeviceNotification(registration);
            DestroyWindow(window);
        });
        std::unique_lock readyLock(readyMutex);
        ready.wait(readyLock, [&] { return started; });
        if (raw->window == nullptr) {
            readyLock.unlock();
            raw->thread.join();
            return -1;
        }
        active = std::move(notifier);
        return 0;
    }

    std::int32_t stop() {
        std::lock_guard lock(registryMutex);
        stopLocked();
        return 0;
    }

  private:
    void stopLocked() {
        if (!active) return;
        PostMessageW(active->window, WM_QUIT, 0, 0);
        if (active->thread.get_id() == std::this_thread::get_id()) {
            active->thread.detach();  // called from the callback: the thread ends when it returns
        } else {
            active->thread.join();
        }
        active.reset();
    }

    std::mutex registryMutex;
    std::shared_ptr<Notifier> active;
};

Registry registry;

std::mutex instanceMutex;
HANDLE instanceHandle = nullptr;

}  // namespace

std::int32_t startDeviceNotification(ZspDeviceNotification callback, void* context, const char*) {
    return registry.start(callback, context);
}

// Only one callback is registered at a time, so whichever is named, the registration ends.
std::int32_t stopDeviceNotification(ZspDeviceNotification, void*) {
    return registry.stop();
}

std::int32_t getInstanceLock() {
    std::lock_guard lock(instanceMutex);
    return instanceHandle != nullptr ? 1 : 0;
}

// value != 0 takes the lock (0 taken, 1 another process of this session holds it); 0 releases it.
std::int32_t setInstanceLock(std::int32_t value) {
    std::lock_guard lock(instanceMutex);
    if (value == 0) {
        if (instanceHandle != nullptr) CloseHandle(instanceHandle);
        instanceHandle = nullptr;
        return 0;
    }
    if (instanceHandle != nullptr) return 0;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\zspWin-instance");
    if (mutex == nullptr) return -1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 1;
    }
    instanceHandle = mutex;
    return 0;
}

// 1 on external power, 0 on battery. A machine that cannot tell counts as mains.
std::int32_t statusAPM() {
    SYSTEM_POWER_STATUS status{};
    if (!GetSystemPowerStatus(&status)) return 1;
    return status.ACLineStatus == 0 ? 0 : 1;
}

// Serving a port from a thread of its own is a need of one legacy host only.
std::int32_t serveConfig(ZspConfig&) {
    return ZSP_ERR_UNSUPPORTED;
}

}  // namespace zsp
