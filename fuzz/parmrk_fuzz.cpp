// The PARMRK decoder on whatever bytes the line discipline hands over, and on encodings of known
// data: what was received must come out unchanged, byte for byte and mark for mark.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "native/ParmrkDecoder.h"

using zsp::ParmrkDecoder;
using namespace rszorvik::fuzz;

namespace {

struct Event {
    ParmrkDecoder::Kind kind;
    std::uint8_t value;
    bool operator==(const Event&) const = default;
};

std::vector<Event> decode(const std::vector<std::uint8_t>& raw) {
    ParmrkDecoder decoder;
    std::vector<Event> events;
    for (std::uint8_t byte : raw) {
        const auto result = decoder.feed(byte);
        if (result.kind != ParmrkDecoder::Kind::Pending) events.push_back({result.kind, result.value});
        for (std::uint8_t extra; decoder.takeExtra(extra);)
            events.push_back({ParmrkDecoder::Kind::Data, extra});
    }
    return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arbitrary bytes, not only what the line discipline writes: never more events than bytes, and every
    // byte other than 0xFF and 0x00 (which may belong to a marking) comes through once, in order, as data
    // or as the byte of a mark.
    const std::vector<std::uint8_t> raw(data, data + size);
    const std::vector<Event> events = decode(raw);
    check(events.size() <= raw.size(), "more events than bytes");
    std::vector<std::uint8_t> plainSent, plainReceived;
    for (std::uint8_t byte : raw)
        if (byte != 0xFF && byte != 0x00) plainSent.push_back(byte);
    for (const Event& event : events)
        if (event.value != 0xFF && event.value != 0x00) plainReceived.push_back(event.value);
    check(plainReceived == plainSent, "a byte vanished, changed or moved");

    // The input as events (bit 0 of each pair's first byte: a mark), encoded as the line discipline does.
    std::vector<Event> sent;
    std::vector<std::uint8_t> encoded;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const bool mark = (data[i] & 1) != 0;
        const std::uint8_t value = data[i + 1];
        sent.push_back({mark ? ParmrkDecoder::Kind::Mark : ParmrkDecoder::Kind::Data, value});
        if (mark) {
            encoded.insert(encoded.end(), {0xFF, 0x00, value});
        } else if (value == 0xFF) {
            encoded.insert(encoded.end(), {0xFF, 0xFF});
        } else {
            encoded.push_back(value);
        }
    }
    check(decode(encoded) == sent, "an encoded stream did not decode to what was sent");
    return 0;
}
