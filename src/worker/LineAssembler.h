#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rszorvik::worker {

// The bytes of one line as the worker stage takes them.
struct RawLine {
    std::string text;    // each byte as the code point of the same value (UTF-8), terminator included
    bool error = false;  // a parity or framing error was signalled for one of its bytes
};

// Cuts received bytes into lines at the input terminator. The terminator stays at the end of its line's
// text: with terminator LF and a device that ends lines with CR LF the CR comes before it, with terminator
// CR the LF starts the next line. A completed line leaves the buffer at once, so its bytes are gone even
// when its processing fails; only the bytes after the last terminator remain unsent.
class LineAssembler {
  public:
    // terminator: a byte value 0..255 (std::invalid_argument otherwise).
    explicit LineAssembler(int terminator);

    // One received byte; flagged when the port signalled a parity or framing error for it. Returns the
    // completed line when the byte is the terminator.
    std::optional<RawLine> add(std::uint8_t byte, bool flagged = false);

    // A block of bytes without error signals: onLine(RawLine&&) for each completed line, in order. Cuts
    // exactly as add() byte by byte would.
    template <class OnLine>
    void addAll(std::string_view bytes, OnLine&& onLine) {
        while (!bytes.empty()) {
            const std::size_t end = bytes.find(terminatorByte);
            if (end == std::string_view::npos) {
                pending.append(bytes);
                return;
            }
            pending.append(bytes.substr(0, end + 1));
            bytes.remove_prefix(end + 1);
            onLine(takeLine());
        }
    }

    int getTerminator() const { return static_cast<unsigned char>(terminatorByte); }
    bool hasUnsent() const { return !pending.empty(); }
    // The bytes after the last terminator, as text.
    std::string unsentText() const;
    const std::string& unsentBytes() const { return pending; }
    void clear();

  private:
    RawLine takeLine();

    char terminatorByte;
    std::string pending;
    bool pendingError = false;
};

}  // namespace rszorvik::worker
