#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace rszorvik::worker {

// One received line: its raw text, the value extracted from it, its number since the worker started, when it
// was received and whether a parity or framing error marked any of its bytes. Nothing changes after
// construction except that the duplicate filter may delete the value.
class DataLine {
  public:
    using Instant = std::chrono::sys_time<std::chrono::nanoseconds>;
    using LocalDateTime = std::chrono::local_time<std::chrono::nanoseconds>;

    // rawData: every received byte of the line, terminator included, as the code point of the same value.
    DataLine(std::string rawData, std::string processedData, std::int32_t count, Instant instant, bool error);

    // The raw text made printable by transformControlChars.
    std::string getRawData() const { return transformControlChars(rawData); }
    // The raw text as received (one code point per byte), for callers that render it themselves.
    const std::string& getRawText() const { return rawData; }
    const std::string& getProcessedData() const { return processedData; }
    std::int32_t getCount() const { return count; }
    Instant getInstant() const { return instant; }
    bool isError() const { return error; }
    // The reception time in the process's time zone, nanoseconds kept.
    LocalDateTime getDateTime() const;

    bool hasValue() const { return !processedData.empty(); }
    DataLine copy() const { return *this; }
    void deleteProcessedData() { processedData.clear(); }

    // Code points 32..126 are copied; every other one becomes "<" + its decimal code + ">".
    static std::string transformControlChars(std::string_view text);
    // Appends the rendering of text to out (no temporary for callers that build larger texts).
    static void appendTransformed(std::string& out, std::string_view text);
    // The text of received bytes: each byte becomes the code point of the same value (UTF-8 encoded).
    static std::string textFromBytes(std::string_view bytes);

  private:
    std::string rawData;
    std::string processedData;
    std::int32_t count;
    Instant instant;
    bool error;
};

}  // namespace rszorvik::worker
