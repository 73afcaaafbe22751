#include "platform/MidiSequencerDevice.h"

#include <stdexcept>
#include <utility>

namespace rszorvik::platform {

MidiSequencerDevice::MidiSequencerDevice(std::unique_ptr<MidiShortMessageDevice> device)
    : device(std::move(device)) {
    thread = std::jthread([this](std::stop_token stop) { playback(stop); });
}

MidiSequencerDevice::~MidiSequencerDevice() {
    close();
}

void MidiSequencerDevice::setSequence(const MidiSequence& sequence) {
    std::lock_guard lock(mutex);
    requireOpen();
    send(timeline.stop(now()));
    timeline.setSequence(sequence);
    changed = true;
    wake.notify_all();
}

void MidiSequencerDevice::setTickPosition(long tick) {
    std::lock_guard lock(mutex);
    requireOpen();
    send(timeline.setTickPosition(tick, now()));
    changed = true;
    wake.notify_all();
}

void MidiSequencerDevice::start() {
    std::lock_guard lock(mutex);
    requireOpen();
    const Micros at = now();
    timeline.start(at);
    // The first messages go out from here so a stroke does not wait for the playback thread to wake.
    send(timeline.takeDue(at));
    changed = true;
    wake.notify_all();
}

bool MidiSequencerDevice::isRunning() const {
    std::lock_guard lock(mutex);
    return timeline.running();
}

bool MidiSequencerDevice::isOpen() const {
    std::lock_guard lock(mutex);
    return device != nullptr;
}

void MidiSequencerDevice::close() {
    if (thread.joinable()) {
        thread.request_stop();
        thread.join();
    }
    std::lock_guard lock(mutex);
    if (!device) return;
    timeline.stop(now());
    device->reset();
    device.reset();
}

std::uint32_t MidiSequencerDevice::pack(const MidiMessage& message) {
    return static_cast<std::uint32_t>(message.status) |
           (static_cast<std::uint32_t>(message.data1 & 0x7f) << 8) |
           (static_cast<std::uint32_t>(message.data2 & 0x7f) << 16);
}

MidiSequencerDevice::Micros MidiSequencerDevice::now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - epoch);
}

void MidiSequencerDevice::requireOpen() const {
    if (!device) throw std::logic_error("MIDI sequencer is closed");
}

void MidiSequencerDevice::send(const std::vector<MidiMessage>& messages) {
    for (const auto& message : messages)
        device->send(pack(message));
}

void MidiSequencerDevice::playback(std::stop_token stop) {
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
        send(timeline.takeDue(now()));
        changed = false;
        const auto woken = [this] { return changed; };
        if (const auto next = timeline.nextDue())
            wake.wait_until(lock, stop, epoch + *next, woken);
        else
            wake.wait(lock, stop, woken);
    }
}

}  // namespace rszorvik::platform
