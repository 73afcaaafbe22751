#include "worker/DataLine.h"

#include <charconv>
#include <chrono>
#include <ctime>
#include <utility>

#include "base/Utf8.h"

namespace rszorvik::worker {

DataLine::DataLine(std::string rawData, std::string processedData, std::int32_t count, Instant instant,
                   bool error)
    : rawData(std::move(rawData)),
      processedData(std::move(processedData)),
      count(count),
      instant(instant),
      error(error) {}

namespace {

// How far local time is ahead of UTC at t: the local calendar time read as if it were UTC, minus t (what
// glibc's tm_gmtoff holds, which Windows lacks).
std::chrono::seconds utcOffset(std::time_t t) {
    using namespace std::chrono;
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return seconds(0);
    const sys_days day = year(local.tm_year + 1900) / month(static_cast<unsigned>(local.tm_mon + 1)) /
                         std::chrono::day(static_cast<unsigned>(local.tm_mday));
    const auto asUtc = day + hours(local.tm_hour) + minutes(local.tm_min) + seconds(local.tm_sec);
    return asUtc.time_since_epoch() - seconds(t);
}

}  // namespace

DataLine::LocalDateTime DataLine::getDateTime() const {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(instant);
    const std::time_t t = system_clock::to_time_t(time_point_cast<system_clock::duration>(seconds));
    return LocalDateTime{instant.time_since_epoch() + utcOffset(t)};
}

void DataLine::appendTransformed(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= 32 && c <= 126) {
            out.push_back(c);
            ++i;
            continue;
        }
        const char32_t cp = base::utf8::next(text, i);
        char digits[12];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(cp)).ptr;
        out.push_back('<');
        out.append(digits, end);
        out.push_back('>');
    }
}

std::string DataLine::transformControlChars(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    appendTransformed(out, text);
    return out;
}

std::string DataLine::textFromBytes(std::string_view bytes) {
    return base::utf8::fromLatin1(bytes);
}

}  // namespace rszorvik::worker
