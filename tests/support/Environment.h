#pragma once

// Changing the process environment from a test, on every host.

#include <string>

namespace rszorvik::test {

void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);
// The variable that names the user's home folder: HOME, or USERPROFILE on Windows.
const char* homeVariable();

}  // namespace rszorvik::test
