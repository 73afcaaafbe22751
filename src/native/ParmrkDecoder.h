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
        switch (state_) {
            case State::Idle:
                if (raw == 0xFF) {
                    state_ = State::Escape;
                    return {};
                }
                return {Kind::Data, raw};
            case State::Escape:
                if (raw == 0xFF) {
                    state_ = State::Idle;
                    return {Kind::Data, 0xFF};
                }
                if (raw == 0x00) {
                    state_ = State::Marked;
                    return {};
                }
                // Not a sequence the line discipline writes; keep both bytes rather than lose one.
                state_ = State::Idle;
                pendingExtra_ = true;
                extra_ = raw;
                return {Kind::Data, 0xFF};
            case State::Marked:
                state_ = State::Idle;
                return {Kind::Mark, raw};
        }
        return {};
    }

    // A byte held back by the last feed (only after an unexpected escape); call until it answers false.
    bool takeExtra(std::uint8_t& value) {
        if (!pendingExtra_) return false;
        pendingExtra_ = false;
        value = extra_;
        return true;
    }

    bool midSequence() const { return state_ != State::Idle; }
    void reset() {
        state_ = State::Idle;
        pendingExtra_ = false;
    }

  private:
    enum class State { Idle, Escape, Marked };
    State state_ = State::Idle;
    bool pendingExtra_ = false;
    std::uint8_t extra_ = 0;
};

}  // namespace zsp
