#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/AppendFile.h"
#include "worker/DataLine.h"

namespace rszorvik::worker {

// What became of the value of a received line.
enum class ValueOutcome { TYPED, PRINTED, DUPLICATE, NOT_TYPED };

// One record of the value log: one received line.
struct ValueRecord {
    DataLine::Instant received;
    std::chrono::seconds utcOffset{0};  // of the local time at `received`
    std::string port;
    std::string instrument;
    std::string raw;    // as the event log shows it
    std::string value;  // as typed; for a duplicate or a value not typed, as it would have been
    ValueOutcome outcome = ValueOutcome::NOT_TYPED;
    std::string reason;  // why it was not typed; for a typed value, what of it could not be typed
};

// The file named could not be opened or written at the start.
class ValueLogError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A CSV file (RFC 4180, UTF-8, a header line when the file is new) with one record per received line,
// written by a thread of its own so that neither the reading nor the typing waits for the file. Each
// record goes to the system as it is written; the file is synced once no further record waits. When the
// file cannot take the records (a full disk, a removed medium, the file deleted) that is said once, the
// records are kept in order and tried again every kRetry, with the file opened anew, and said again once
// they are written.
class ValueLog {
  public:
    struct Events {
        std::function<void(const std::string& reason)> failed;  // writer thread; once per failure
        std::function<void()> resumed;                          // writer thread
    };
    using Opener = std::function<std::unique_ptr<platform::AppendFile>(const std::filesystem::path&)>;

    static constexpr std::string_view kHeader = "time,port,instrument,raw,value,outcome,reason\r\n";
    static constexpr std::chrono::milliseconds kRetry{1000};
    // Records kept while the file fails; beyond this the oldest go, and close() counts them.
    static constexpr std::size_t kMaxKept = 100000;

    // Opens the file (unset opener: platform::AppendFile::open) and writes the header when it is empty.
    // Throws ValueLogError, with the path and the system's reason, when it cannot be opened or written.
    ValueLog(std::filesystem::path file, Events events, Opener opener = {},
             std::chrono::milliseconds retryEvery = kRetry);
    // close()
    ~ValueLog();
    ValueLog(const ValueLog&) = delete;
    ValueLog& operator=(const ValueLog&) = delete;

    // Any thread; never waits for the file. Records added after close() are not written.
    void add(ValueRecord record);
    // Writes what waits, trying once more after a failure, and ends the writer. Answers how many
    // records never reached the file; 0 on later calls.
    std::size_t close();

    // The path as a message shows it.
    std::string pathText() const;

    // The record as one line of the file, CR LF included.
    static std::string csvLine(const ValueRecord& record);
    // "typed", "printed", "duplicate", "not typed".
    static std::string_view outcomeName(ValueOutcome outcome);
    // ISO 8601 local time with milliseconds and the UTC offset: 2024-05-03T14:22:01.123+02:00.
    static std::string localTime(DataLine::Instant instant, std::chrono::seconds utcOffset);

  private:
    void openFile();
    void writerLoop();
    // Writes the kept lines (opening the file anew first when `reopen`); says a failure or a recovery.
    void writeKept(bool reopen);
    void keep(std::string line);
    // Takes out of `kept` the lines of a failed write that reached the file all the same.
    void dropLanded(platform::AppendFile& opened);

    std::filesystem::path path;
    Events events;
    Opener opener;
    std::chrono::milliseconds retryEvery;

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<ValueRecord> queued;  // guarded by mutex
    bool closing = false;             // guarded by mutex
    bool closed = false;              // close() has run; caller's thread

    // The writer thread's own.
    std::unique_ptr<platform::AppendFile> file;
    std::deque<std::string> kept;  // lines not yet in the file, oldest first
    std::size_t dropped = 0;
    // The first lines kept were written, but neither synced nor cut back: they may be in the file.
    std::size_t unsure = 0;
    bool failing = false;

    std::thread writer;
};

}  // namespace rszorvik::worker
