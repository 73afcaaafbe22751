#pragma once

#include <cstdint>

namespace zsp {

// Undoes the line discipline's error marking (termios PARMRK): a byte received with a parity or
// framing error arrives as 0xFF 0x00 byte, a break as 0xFF 0x00 0x00 and a real 0xFF as 0xFF 0xFF.
// The decoder keeps its state between calls, so a mark split across two reads is still recognised.
class ParmrkDecoder {
  public:
    enum class Kind { Pending, Data, Mark };

    struct Result {
        Kind kind = Kind::Pending;
        std::uint8_t value = 0;  // the data byte, or the byte that carried the error of a mark
    };

    Result feed(std::uint8_t raw) {
        switch (state) {
            case State::Idle:
                if (raw == 0xFF) {
                    state = State::Escape;
                    return {};
                }
                return {Kind::Data, raw};
            case State::Escape:
                if (raw == 0xFF) {
                    state = State::Idle;
                    return {Kind::Data, 0xFF};
                }
                if (raw == 0x00) {
                    state = State::Marked;
                    return {};
                }
                // Not a sequence the line discipline writes; keep both bytes rather than lose one.
                state = State::Idle;
                pendingExtra = true;
                extra = raw;
                return {Kind::Data, 0xFF};
            case State::Marked:
                state = State::Idle;
                return {Kind::Mark, raw};
        }
        return {};
    }

    // A byte held back by the last feed (only after an unexpected escape); call until it answers false.
    bool takeExtra(std::uint8_t& value) {
        if (!pendingExtra) return false;
        pendingExtra = false;
        value = extra;
        return true;
    }

    bool midSequence() const { return state != State::Idle; }
    void reset() {
        state = State::Idle;
        pendingExtra = false;
    }

  private:
    enum class State { Idle, Escape, Marked };
    State state = State::Idle;
    bool pendingExtra = false;
    std::uint8_t extra = 0;
};

}  // namespace zsp
