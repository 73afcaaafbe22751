#pragma once

#include <stdexcept>

namespace Zivaraze {

// A failed port operation; the message is the fixed English text the caller shows as it is.
class IOError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The system refused to open the port's device for lack of permission (the device exists).
class PortPermissionError : public IOError {
  public:
    using IOError::IOError;
};

// A native entry point was called but no native serial library is loaded (and no table installed).
class NativeLibraryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace Zivaraze
