#pragma once

// A pseudo-terminal pair for tests of the serial library on a real device: the test holds one side and
// plays the instrument, the port under test opens the other by its name.
//
// On Linux the test holds the master side of its own pseudo-terminal. The Windows build, run under Wine,
// takes the next of the pairs the test runner offers (ZORVIK_TEST_PORT_PAIRS, see tests/support/
// pty_pairs.py): two Linux pseudo-terminals joined like a null-modem cable, each a COM port of the Wine
// prefix; the test holds one as its side, and closing it hangs the port's side up as closing a master does.

#include <memory>
#include <string>

namespace rszorvik::test {

class Pty {
  public:
    Pty();   // throws std::runtime_error
    ~Pty();  // closes the test's side
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // The name the port under test opens.
    const std::string& path() const { return portName; }
    // The master's descriptor (POSIX only).
    int master() const;

    // What the device sends: arrives at the port.
    void send(const std::string& bytes) const;
    // What the port wrote, until count bytes arrived or nothing came for a while.
    std::string receive(std::size_t count) const;
    // The device goes away: the port's side hangs up.
    void closeMaster();

  private:
    struct Side;  // the test's side: the master's descriptor, or the handle of the other COM port
    std::unique_ptr<Side> side;
    std::string portName;
};

}  // namespace rszorvik::test
