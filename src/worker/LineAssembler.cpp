#include "worker/LineAssembler.h"

#include <stdexcept>

#include "base/Utf8.h"

namespace rszorvik::worker {

LineAssembler::LineAssembler(int terminator, std::size_t maxLineBytes) : maxBytes(maxLineBytes) {
    if (terminator < 0 || terminator > 255)
        throw std::invalid_argument("input terminator must be a byte value 0..255, not " +
                                    std::to_string(terminator));
    if (maxLineBytes == 0) throw std::invalid_argument("the longest line must hold at least one byte");
    terminatorByte = static_cast<char>(static_cast<unsigned char>(terminator));
    pending.reserve(30);
}

std::optional<RawLine> LineAssembler::add(std::uint8_t byte, bool flagged) {
    const char c = static_cast<char>(byte);
    if (dropping) {
        ++droppedLine.count;
        if (c == terminatorByte) dropping = false;
        return std::nullopt;
    }
    pending.push_back(c);
    pendingError = pendingError || flagged;
    if (c != terminatorByte) {
        if (pending.size() >= maxBytes) startDropping();
        return std::nullopt;
    }
    return takeLine();
}

RawLine LineAssembler::takeLine() {
    RawLine line{base::utf8::fromLatin1(pending), pendingError};
    pending.clear();
    pendingError = false;
    return line;
}

void LineAssembler::startDropping() {
    droppedLine = {pending.size(), pending.substr(0, kDroppedStartBytes)};
    dropping = true;
    pending.clear();
    pendingError = false;
}

std::string LineAssembler::unsentText() const {
    return base::utf8::fromLatin1(pending);
}

void LineAssembler::clear() {
    pending.clear();
    pendingError = false;
    dropping = false;
}

}  // namespace rszorvik::worker
