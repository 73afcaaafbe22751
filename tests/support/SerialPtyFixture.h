#pragma once

// The fixture of the serial tests on pseudo-terminals: the library set up as the application sets it up,
// the native module loaded beside the test, and a fresh pseudo-terminal per test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "serial/SerialConfig.h"
#include "serial/SerialPortLocal.h"
#include "support/PseudoTerminal.h"
#include "support/SerialTestSupport.h"

namespace rszorvik::test {

class SerialPtyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { selectApplicationPlatform(); }

    void SetUp() override {
        ASSERT_TRUE(Zivaraze::SerialPortLocal::isLibraryLoaded()) << "the native module beside the test";
    }

    std::shared_ptr<Zivaraze::SerialConfig> configFor(const std::string& path) {
        return std::make_shared<Zivaraze::SerialConfig>(path);
    }

    Pty pty;
};

}  // namespace rszorvik::test
