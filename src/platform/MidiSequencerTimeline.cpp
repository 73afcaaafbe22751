#include "platform/MidiSequencerTimeline.h"

#include <algorithm>

namespace rszorvik::platform {

void MidiSequencerTimeline::setSequence(const MidiSequence& sequence) {
    events.clear();
    for (const auto& track : sequence.tracks)
        events.insert(events.end(), track.events.begin(), track.events.end());
    // Stable, so events on the same tick keep the order they were added in (note-off before note-on).
    std::stable_sort(events.begin(), events.end(),
                     [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
    resolution = sequence.resolution;
    playing = false;
    seek(0);
}

std::vector<MidiMessage> MidiSequencerTimeline::setTickPosition(long tick, Micros now) {
    auto released = releaseSounding();
    seek(std::max(0L, tick));
    if (playing) origin = now - tickToMicros(position);
    return released;
}

void MidiSequencerTimeline::start(Micros now) {
    if (playing || nextEvent >= events.size()) return;
    playing = true;
    origin = now - tickToMicros(position);
}

std::vector<MidiMessage> MidiSequencerTimeline::stop(Micros now) {
    if (playing) {
        const long reached = tickPosition(now);
        playing = false;
        seek(reached);
    }
    return releaseSounding();
}

long MidiSequencerTimeline::tickPosition(Micros now) const {
    if (!playing) return position;
    const auto elapsed = std::max(Micros{0}, now - origin).count();
    return static_cast<long>(elapsed * resolution / kMicrosPerQuarter);
}

MidiSequencerTimeline::Micros MidiSequencerTimeline::tickToMicros(long tick) const {
    return Micros{static_cast<long long>(tick) * kMicrosPerQuarter / resolution};
}

std::optional<MidiSequencerTimeline::Micros> MidiSequencerTimeline::nextDue() const {
    if (!playing || nextEvent >= events.size()) return std::nullopt;
    return origin + tickToMicros(events[nextEvent].tick);
}

std::vector<MidiMessage> MidiSequencerTimeline::takeDue(Micros now) {
    std::vector<MidiMessage> due;
    while (playing && nextEvent < events.size() && origin + tickToMicros(events[nextEvent].tick) <= now) {
        const MidiMessage& message = events[nextEvent].message;
        const auto note = std::make_pair(message.channel(), static_cast<int>(message.data1));
        if (message.command() == 0x90 && message.data2 > 0)
            sounding.insert(note);
        else if (message.command() == 0x80 || message.command() == 0x90)
            sounding.erase(note);
        due.push_back(message);
        ++nextEvent;
    }
    if (playing && nextEvent >= events.size()) {
        playing = false;
        position = events.empty() ? 0 : events.back().tick;
    }
    return due;
}

std::vector<MidiMessage> MidiSequencerTimeline::releaseSounding() {
    std::vector<MidiMessage> offs;
    for (const auto& [channel, key] : sounding)
        offs.push_back({static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key), 0});
    sounding.clear();
    return offs;
}

void MidiSequencerTimeline::seek(long tick) {
    position = tick;
    nextEvent = static_cast<std::size_t>(
        std::lower_bound(events.begin(), events.end(), tick,
                         [](const MidiEvent& event, long t) { return event.tick < t; }) -
        events.begin());
}

}  // namespace rszorvik::platform
