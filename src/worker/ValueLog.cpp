#include "worker/ValueLog.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <utility>

#include "base/MessageCatalog.h"

namespace rszorvik::worker {

namespace {

void appendField(std::string& line, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        line += field;
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

// The system's reason for a failure, without the name of the call that failed.
std::string reasonOf(const std::exception& e) {
    if (const auto* system = dynamic_cast<const std::system_error*>(&e)) return system->code().message();
    return e.what();
}

}  // namespace

ValueLog::ValueLog(std::filesystem::path file, Events logEvents, Opener fileOpener,
                   std::chrono::milliseconds retry)
    : path(std::move(file)),
      events(std::move(logEvents)),
      opener(fileOpener ? std::move(fileOpener) : Opener(&platform::AppendFile::open)),
      retryEvery(retry) {
    try {
        openFile();
    } catch (const std::exception& e) {
        throw ValueLogError(pathText() + ": " + reasonOf(e));
    }
    writer = std::thread([this] { writerLoop(); });
}

ValueLog::~ValueLog() {
    close();
}

std::string ValueLog::pathText() const {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void ValueLog::openFile() {
    file.reset();
    std::unique_ptr<platform::AppendFile> opened = opener(path);
    dropLanded(*opened);
    if (opened->size() == 0) {
        opened->append(kHeader);
    } else if (opened->tail(1) != "\n") {
        // Whatever ends the file without a line break (an edit by hand), the next record starts a line.
        opened->append("\r\n");
    }
    opened->sync();
    file = std::move(opened);
}

void ValueLog::add(ValueRecord record) {
    bool first = false;
    {
        std::lock_guard lock(mutex);
        if (closing) return;
        first = queued.empty();
        queued.push_back(std::move(record));
    }
    // The writer waits only for an empty queue; behind the first record it is awake already.
    if (first) wake.notify_one();
}

std::size_t ValueLog::close() {
    if (closed) return 0;
    closed = true;
    {
        std::lock_guard lock(mutex);
        closing = true;
    }
    wake.notify_one();
    if (writer.joinable()) writer.join();
    return kept.size() + dropped;
}

void ValueLog::writerLoop() {
    std::unique_lock lock(mutex);
    while (true) {
        if (failing) {
            wake.wait_for(lock, retryEvery, [this] { return closing; });
        } else {
            wake.wait(lock, [this] { return closing || !queued.empty(); });
        }
        std::vector<ValueRecord> records = std::move(queued);
        queued.clear();
        const bool last = closing;
        lock.unlock();
        for (const ValueRecord& record : records)
            keep(csvLine(record));
        // After a failure the file is opened anew: the medium may be back, or the file recreated.
        if (!kept.empty()) writeKept(failing);
        lock.lock();
        if (last) return;
    }
}

void ValueLog::keep(std::string line) {
    if (kept.size() >= kMaxKept) {
        kept.pop_front();
        ++dropped;
        if (unsure > 0) --unsure;
    }
    kept.push_back(std::move(line));
}

void ValueLog::dropLanded(platform::AppendFile& opened) {
    const std::size_t count = std::min(unsure, kept.size());
    unsure = 0;
    if (count == 0) return;
    std::vector<std::size_t> ends;  // length of the first j lines, j = 1..count
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i)
        ends.push_back(length += kept[i].size());
    std::string lines;
    for (std::size_t i = 0; i < count; ++i)
        lines += kept[i];
    const std::string end = opened.tail(length);
    // The medium may have kept all of them, the first few, or none; rewritten they would be there twice.
    for (std::size_t j = count; j > 0; --j) {
        const std::size_t bytes = ends[j - 1];
        if (end.size() >= bytes && end.compare(end.size() - bytes, bytes, lines, 0, bytes) == 0) {
            kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(j));
            return;
        }
    }
}

void ValueLog::writeKept(bool reopen) {
    try {
        if (reopen || !file) openFile();
        if (!file->stillAtPath())
            throw std::runtime_error(
                base::MessageCatalog::get(base::catalogues::kWorker).getString("value.log.removed"));
        const std::uint64_t before = file->size();
        std::size_t written = 0;
        try {
            for (const std::string& line : kept) {
                file->append(line);
                ++written;
            }
            file->sync();
        } catch (const std::exception&) {
            // What went in before the failure counts only once it is on the medium.
            bool synced = false;
            if (written > 0) {
                try {
                    file->sync();
                    synced = true;
                } catch (const std::exception&) {
                    try {
                        file->truncate(before);
                    } catch (const std::exception&) {
                        // The medium is gone: whether they are in the file is seen when it is back.
                        unsure = written;
                    }
                }
            }
            if (synced) kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(written));
            throw;
        }
        kept.clear();
        if (failing) {
            failing = false;
            if (events.resumed) events.resumed();
        }
    } catch (const std::exception& e) {
        file.reset();
        if (!failing) {
            failing = true;
            if (events.failed) events.failed(reasonOf(e));
        }
    }
}

std::string_view ValueLog::outcomeName(ValueOutcome outcome) {
    switch (outcome) {
        case ValueOutcome::TYPED:
            return "typed";
        case ValueOutcome::PRINTED:
            return "printed";
        case ValueOutcome::DUPLICATE:
            return "duplicate";
        case ValueOutcome::NOT_TYPED:
            break;
    }
    return "not typed";
}

std::string ValueLog::localTime(DataLine::Instant instant, std::chrono::seconds utcOffset) {
    using namespace std::chrono;
    const auto local = floor<milliseconds>(instant + utcOffset);
    const auto day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss clock(local - day);
    const long offsetMinutes = static_cast<long>(utcOffset.count() / 60);
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ld%c%02ld:%02ld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(clock.hours().count()),
                  static_cast<long>(clock.minutes().count()), static_cast<long>(clock.seconds().count()),
                  static_cast<long>(clock.subseconds().count()), offsetMinutes < 0 ? '-' : '+', absolute / 60,
                  absolute % 60);
    return text;
}

std::string ValueLog::csvLine(const ValueRecord& record) {
    std::string line;
    line.reserve(64 + record.raw.size() + record.value.size() + record.reason.size());
    line += localTime(record.received, record.utcOffset);
    for (const std::string_view field :
         {std::string_view(record.port), std::string_view(record.instrument), std::string_view(record.raw),
          std::string_view(record.value), outcomeName(record.outcome), std::string_view(record.reason)}) {
        line += ',';
        appendField(line, field);
    }
    line += "\r\n";
    return line;
}

}  // namespace rszorvik::worker
