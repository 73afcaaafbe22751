#include "worker/LineAssembler.h"

#include <stdexcept>

#include "base/Utf8.h"

namespace rszorvik::worker {

LineAssembler::LineAssembler(int terminator) {
    if (terminator < 0 || terminator > 255)
        throw std::invalid_argument("input terminator must be a byte value 0..255, not " +
                                    std::to_string(terminator));
    terminatorByte = static_cast<char>(static_cast<unsigned char>(terminator));
    pending.reserve(30);
}

std::optional<RawLine> LineAssembler::add(std::uint8_t byte, bool flagged) {
    const char c = static_cast<char>(byte);
    pending.push_back(c);
    pendingError = pendingError || flagged;
    if (c != terminatorByte) return std::nullopt;
    return takeLine();
}

RawLine LineAssembler::takeLine() {
    RawLine line{base::utf8::fromLatin1(pending), pendingError};
    pending.clear();
    pendingError = false;
    return line;
}

std::string LineAssembler::unsentText() const {
    return base::utf8::fromLatin1(pending);
}

void LineAssembler::clear() {
    pending.clear();
    pendingError = false;
}

}  // namespace rszorvik::worker
