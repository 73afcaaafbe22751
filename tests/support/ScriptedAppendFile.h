#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/AppendFile.h"

namespace rszorvik::test {

// What a ScriptedAppendFile writes to: bytes up to its room (then ENOSPC), a medium that can go away
// (EIO, and ENOENT when opened), a path that can come to name another file, a sync that can fail. Also
// keeps the events a test hands it. Safe between the writer thread and the test.
struct ScriptedMedium {
    std::mutex mutex;
    std::condition_variable changed;
    std::string content;
    std::size_t room = 1 << 20;
    bool gone = false;
    bool replaced = false;
    bool failSync = false;
    bool goneOnSync = false;  // the medium goes away while a write is synced, the bytes written on it
    int opened = 0;           // files opened on it, the failed attempts included
    std::vector<std::string> events;

    void set(const std::function<void(ScriptedMedium&)>& change) {
        {
            std::lock_guard lock(mutex);
            change(*this);
        }
        changed.notify_all();
    }
    void event(std::string what) {
        {
            std::lock_guard lock(mutex);
            events.push_back(std::move(what));
        }
        changed.notify_all();
    }
    // False when the condition did not come true within the time.
    bool await(const std::function<bool(ScriptedMedium&)>& condition,
               std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, patience, [&] { return condition(*this); });
    }
    std::size_t lines() {
        std::size_t count = 0;
        for (std::size_t at = 0; (at = content.find("\r\n", at)) != std::string::npos; at += 2)
            ++count;
        return count;
    }
};

// An append-only file on a scripted medium, for the faults a real disk cannot be made to show on
// demand. Appends are whole or nothing, as the real file promises.
class ScriptedAppendFile : public platform::AppendFile {
  public:
    explicit ScriptedAppendFile(ScriptedMedium& medium) : medium(medium) {
        {
            std::lock_guard lock(medium.mutex);
            ++medium.opened;
        }
        medium.changed.notify_all();
        std::lock_guard lock(medium.mutex);
        if (medium.gone) throw std::system_error(ENOENT, std::generic_category(), "open");
        medium.replaced = false;
    }
    std::uint64_t size() override {
        std::lock_guard lock(medium.mutex);
        check();
        return medium.content.size();
    }
    std::string tail(std::size_t bytes) override {
        std::lock_guard lock(medium.mutex);
        check();
        return medium.content.substr(medium.content.size() - std::min(bytes, medium.content.size()));
    }
    void append(std::string_view bytes) override {
        {
            std::lock_guard lock(medium.mutex);
            check();
            if (medium.content.size() + bytes.size() > medium.room)
                throw std::system_error(ENOSPC, std::generic_category(), "write");
            medium.content += bytes;
        }
        medium.changed.notify_all();
    }
    void sync() override {
        std::lock_guard lock(medium.mutex);
        check();
        if (medium.goneOnSync) medium.gone = true;
        if (medium.failSync || medium.goneOnSync)
            throw std::system_error(EIO, std::generic_category(), "fdatasync");
    }
    void truncate(std::uint64_t bytes) override {
        std::lock_guard lock(medium.mutex);
        check();
        medium.content.resize(bytes);
    }
    bool stillAtPath() override {
        std::lock_guard lock(medium.mutex);
        return !medium.replaced;
    }

  private:
    void check() const {
        if (medium.gone) throw std::system_error(EIO, std::generic_category(), "write");
    }
    ScriptedMedium& medium;
};

}  // namespace rszorvik::test
