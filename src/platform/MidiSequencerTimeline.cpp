#include "platform/MidiSequencerTimeline.h"

#include <algorithm>

namespace rszorvik::platform {

void MidiSequencerTimeline::setSequence(const MidiSequence& sequence) {
    events_.clear();
    for (const auto& track : sequence.tracks)
        events_.insert(events_.end(), track.events.begin(), track.events.end());
    // Stable, so events on the same tick keep the order they were added in (note-off before note-on).
    std::stable_sort(events_.begin(), events_.end(),
                     [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
    resolution_ = sequence.resolution;
    running_ = false;
    seek(0);
}

std::vector<MidiMessage> MidiSequencerTimeline::setTickPosition(long tick, Micros now) {
    auto released = releaseSounding();
    seek(std::max(0L, tick));
    if (running_) origin_ = now - tickToMicros(position_);
    return released;
}

void MidiSequencerTimeline::start(Micros now) {
    if (running_ || next_ >= events_.size()) return;
    running_ = true;
    origin_ = now - tickToMicros(position_);
}

std::vector<MidiMessage> MidiSequencerTimeline::stop(Micros now) {
    if (running_) {
        const long reached = tickPosition(now);
        running_ = false;
        seek(reached);
    }
    return releaseSounding();
}

long MidiSequencerTimeline::tickPosition(Micros now) const {
    if (!running_) return position_;
    const auto elapsed = std::max(Micros{0}, now - origin_).count();
    return static_cast<long>(elapsed * resolution_ / kMicrosPerQuarter);
}

MidiSequencerTimeline::Micros MidiSequencerTimeline::tickToMicros(long tick) const {
    return Micros{static_cast<long long>(tick) * kMicrosPerQuarter / resolution_};
}

std::optional<MidiSequencerTimeline::Micros> MidiSequencerTimeline::nextDue() const {
    if (!running_ || next_ >= events_.size()) return std::nullopt;
    return origin_ + tickToMicros(events_[next_].tick);
}

std::vector<MidiMessage> MidiSequencerTimeline::takeDue(Micros now) {
    std::vector<MidiMessage> due;
    while (running_ && next_ < events_.size() && origin_ + tickToMicros(events_[next_].tick) <= now) {
        const MidiMessage& message = events_[next_].message;
        const auto note = std::make_pair(message.channel(), static_cast<int>(message.data1));
        if (message.command() == 0x90 && message.data2 > 0)
            sounding_.insert(note);
        else if (message.command() == 0x80 || message.command() == 0x90)
            sounding_.erase(note);
        due.push_back(message);
        ++next_;
    }
    if (running_ && next_ >= events_.size()) {
        running_ = false;
        position_ = events_.empty() ? 0 : events_.back().tick;
    }
    return due;
}

std::vector<MidiMessage> MidiSequencerTimeline::releaseSounding() {
    std::vector<MidiMessage> offs;
    for (const auto& [channel, key] : sounding_)
        offs.push_back({static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key), 0});
    sounding_.clear();
    return offs;
}

void MidiSequencerTimeline::seek(long tick) {
    position_ = tick;
    next_ = static_cast<std::size_t>(
        std::lower_bound(events_.begin(), events_.end(), tick,
                         [](const MidiEvent& event, long t) { return event.tick < t; }) -
        events_.begin());
}

}  // namespace rszorvik::platform
