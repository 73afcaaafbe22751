#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace rszorvik::worker {

// The bytes of one line as the worker stage takes them.
struct RawLine {
    std::string text;    // each byte as the code point of the same value (UTF-8), terminator included
    bool error = false;  // a parity or framing error was signalled for one of its bytes
};

// A line that grew past the longest line taken and was dropped up to its terminator.
struct DroppedLine {
    std::size_t count = 0;  // its bytes dropped so far, the terminator included once it came
    std::string start;      // its first bytes (LineAssembler::kDroppedStartBytes at most), raw
};

// Cuts received bytes into lines at the input terminator. The terminator stays at the end of its line's
// text: with terminator LF and a device that ends lines with CR LF the CR comes before it, with terminator
// CR the LF starts the next line. A completed line leaves the buffer at once, so its bytes are gone even
// when its processing fails; only the bytes after the last terminator remain unsent.
// A line that reaches maxLineBytes without its terminator is dropped whole: those bytes and every byte up
// to and including its terminator, so that no fragment of it is ever taken for a line of its own.
class LineAssembler {
  public:
    static constexpr std::size_t kDroppedStartBytes = 40;

    // terminator: a byte value 0..255 (std::invalid_argument otherwise); maxLineBytes: at least 1.
    explicit LineAssembler(int terminator,
                           std::size_t maxLineBytes = std::numeric_limits<std::size_t>::max());

    // One received byte; flagged when the port signalled a parity or framing error for it. Returns the
    // completed line when the byte is the terminator. isDropping() turns true with the byte that makes a
    // line too long, and false again with that line's terminator.
    std::optional<RawLine> add(std::uint8_t byte, bool flagged = false);

    // A block of bytes without error signals: onLine(RawLine&&) for each completed line and
    // onDropped(const DroppedLine&) for each dropped line that met its terminator, in order. Cuts exactly as
    // add() byte by byte would.
    template <class OnLine, class OnDropped>
    void addAll(std::string_view bytes, OnLine&& onLine, OnDropped&& onDropped) {
        while (!bytes.empty()) {
            const std::size_t end = bytes.find(terminatorByte);
            const std::size_t lineBytes = end == std::string_view::npos ? bytes.size() : end + 1;
            if (dropping) {
                droppedLine.count += lineBytes;
                bytes.remove_prefix(lineBytes);
                if (end == std::string_view::npos) return;
                dropping = false;
                onDropped(static_cast<const DroppedLine&>(droppedLine));
                continue;
            }
            // The byte that brings the line to maxLineBytes without being its terminator starts the drop.
            const std::size_t room = maxBytes - pending.size();
            if (end == std::string_view::npos ? bytes.size() >= room : end >= room) {
                pending.append(bytes.substr(0, room));
                bytes.remove_prefix(room);
                startDropping();
                continue;
            }
            pending.append(bytes.substr(0, lineBytes));
            bytes.remove_prefix(lineBytes);
            if (end != std::string_view::npos) onLine(takeLine());
        }
    }
    // The same for a capture known to hold no line longer than maxLineBytes.
    template <class OnLine>
    void addAll(std::string_view bytes, OnLine&& onLine) {
        addAll(bytes, std::forward<OnLine>(onLine), [](const DroppedLine&) {});
    }

    int getTerminator() const { return static_cast<unsigned char>(terminatorByte); }
    bool hasUnsent() const { return !pending.empty(); }
    // The bytes after the last terminator, as text.
    std::string unsentText() const;
    const std::string& unsentBytes() const { return pending; }
    // True while the bytes of a line that grew too long are dropped up to its terminator.
    bool isDropping() const { return dropping; }
    // The line being dropped, or the one dropped last.
    const DroppedLine& dropped() const { return droppedLine; }
    // Forgets the unsent bytes and a drop under way.
    void clear();

  private:
    RawLine takeLine();
    void startDropping();

    char terminatorByte;
    std::size_t maxBytes;
    std::string pending;
    bool pendingError = false;
    bool dropping = false;
    DroppedLine droppedLine;
};

}  // namespace rszorvik::worker
