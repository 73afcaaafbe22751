#include <stdlib.h>

#include "support/Environment.h"

namespace rszorvik::test {

// _putenv_s changes both the C runtime's copy (getenv) and the process's own (GetEnvironmentVariable).
// Windows knows no empty variable: an empty value removes it.
void setEnvironment(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

void unsetEnvironment(const std::string& name) {
    _putenv_s(name.c_str(), "");
}

const char* homeVariable() {
    return "USERPROFILE";
}

}  // namespace rszorvik::test
