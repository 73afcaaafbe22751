// Finds the serial ports of the host in sysfs: only ttys backed by a real device (UARTs that answered
// the probe, USB serial adapters, CDC-ACM modems) and bound Bluetooth rfcomm channels.

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/Utf8.h"
#include "native/SerialDevice.h"

namespace zsp {
namespace {

struct Port {
    std::string name;  // as in /sys/class/tty
    std::string description;
    std::string manufacturer;
};

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The first line of a small attribute file, without trailing blanks; empty when unreadable. A USB
// string holds up to 126 characters (378 bytes in UTF-8); a longer line is cut between characters.
std::string readAttribute(const std::string& path) {
    constexpr std::size_t kMaxBytes = 1024;
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return {};
    char line[kMaxBytes + 1];
    std::string text;
    if (std::fgets(line, sizeof line, file) != nullptr)
        text = rszorvik::base::utf8::prefixOfBytes(line, kMaxBytes - 1);
    std::fclose(file);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

std::string resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string text(real);
    ::free(real);
    return text;
}

std::string lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string driverOf(const std::string& deviceDir) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink((deviceDir + "/driver").c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    return lastComponent(target);
}

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Walks from a device towards the root of the device tree, at most a few levels, while inside sysRoot.
template <typename Visit>
void walkUp(const std::string& sysRoot, std::string dir, Visit visit) {
    for (int level = 0;
         level < 12 && dir.size() > sysRoot.size() && dir.compare(0, sysRoot.size(), sysRoot) == 0; ++level) {
        if (visit(dir)) return;
        dir = parentOf(dir);
    }
}

bool inspect(const std::string& sysRoot, const std::string& devRoot, const std::string& name, Port& port) {
    if (!exists(devRoot + "/" + name)) return false;
    port.name = name;
    if (name.rfind("rfcomm", 0) == 0 && isDigits(std::string_view(name).substr(6))) {
        port.description = port.manufacturer = "rfcomm";  // bound channels are virtual devices
        return true;
    }
    const std::string classDir = sysRoot + "/class/tty/" + name;
    const std::string device = resolved(classDir + "/device");
    if (device.empty()) return false;  // consoles, pseudo-terminals and other virtual ttys
    // Serial-core ports report the UART they found; type 0 means nothing answered at that address.
    if (readAttribute(classDir + "/type") == "0") return false;

    const std::string root = resolved(sysRoot);
    std::string driver, product, vendor;
    walkUp(root, device, [&](const std::string& dir) {
        const std::string bound = driverOf(dir);
        // The serial-base bus puts generic "port" and "ctrl" drivers between the tty and its UART.
        if (!bound.empty() && bound != "port" && bound != "ctrl") driver = bound;
        return !driver.empty();
    });
    walkUp(root, device, [&](const std::string& dir) {
        if (!exists(dir + "/idVendor")) return false;
        product = readAttribute(dir + "/product");
        vendor = readAttribute(dir + "/manufacturer");
        return true;
    });
    if (driver.empty()) driver = "serial";
    port.description = product.empty() ? driver : product;
    port.manufacturer = vendor.empty() ? driver : vendor;
    return true;
}

std::string_view withoutLeadingZeros(std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    return digits;
}

// ttyS2 before ttyS10: runs of digits compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            const std::size_t si = i, sj = j;
            while (i < a.size() && digit(a[i]))
                ++i;
            while (j < b.size() && digit(b[j]))
                ++j;
            const auto x = withoutLeadingZeros(std::string_view(a).substr(si, i - si));
            const auto y = withoutLeadingZeros(std::string_view(b).substr(sj, j - sj));
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;
}

std::vector<Port> findPorts(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<Port> ports;
    DIR* dir = ::opendir((sysRoot + "/class/tty").c_str());
    if (dir == nullptr) return ports;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        Port port;
        if (inspect(sysRoot, devRoot, name, port)) ports.push_back(std::move(port));
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(),
              [](const Port& a, const Port& b) { return naturalLess(a.name, b.name); });
    return ports;
}

std::string rootOr(const char* root, const char* fallback) {
    std::string text = root != nullptr && root[0] != '\0' ? root : fallback;
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

}  // namespace

std::int32_t discoverPorts(const ZspPortSink& sink) {
    const std::string devRoot = rootOr(sink.devRoot, "/dev");
    const auto ports = findPorts(rootOr(sink.sysRoot, "/sys"), devRoot);
    for (const auto& port : ports) {
        const std::string path = devRoot + "/" + port.name;
        sink.addPortName(sink.context, path.c_str());
        if (sink.addPortInfo != nullptr)
            sink.addPortInfo(sink.context, path.c_str(), port.manufacturer.c_str(), port.description.c_str());
    }
    return static_cast<std::int32_t>(ports.size());
}

std::string manufacturerOf(const std::string& path) {
    Port port;
    if (!inspect("/sys", parentOf(path), lastComponent(path), port)) return {};
    return port.manufacturer;
}

}  // namespace zsp
