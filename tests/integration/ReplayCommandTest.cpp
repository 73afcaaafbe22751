// zorvik-cli replay, run as a user would run it, on captures and a settings file in a temporary folder.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

using rszorvik::test::readFile;
using rszorvik::test::TempDir;
using rszorvik::test::writeFile;

struct CliRun {
    int status = -1;
    std::string out, err;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// An A&D scale ending its lines with CR LF, a line of only CR LF, and half a line when the capture ended.
const std::string kCapture = "ST, +00012.34 kg\r\nUS, -00012,45 g\r\nST, 12345,67 kg\r\n\r\n+12.";

class ReplayCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The stored settings pick the A&D preset; the runs below change them only with --set.
        writeFile(dir / "prefs.txt",
                  "com.vexlune.zorvik.instrument=AND\ncom.vexlune.zorvik.inputTerminator=10\n");
        writeFile(dir / "capture.bin", kCapture);
    }

    CliRun replay(const std::string& arguments, const std::string& input = "capture.bin",
                  bool viaStdin = false) {
        const auto out = dir / "out.txt", err = dir / "err.txt";
        std::string command = "cd '" + dir.path().string() + "' && env -u ProgramData XDG_CONFIG_HOME='" +
                              (dir / "config").string() + "' " + ZORVIK_CLI_PATH +
                              " --prefs prefs.txt replay " + arguments + (viaStdin ? " < '" : " '") + input +
                              "' >'" + out.string() + "' 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
    }

    TempDir dir;
};

TEST_F(ReplayCommandTest, CrLfLinesWithEitherTerminator) {
    struct Row {
        const char* arguments;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"",
         {R"({"count":1,"raw":"ST, +00012.34 kg<13><10>","value":"12.34","error":false})",
          R"({"count":2,"raw":"US, -00012,45 g<13><10>","value":"-12.45","error":false})",
          R"({"count":3,"raw":"ST, 12345,67 kg<13><10>","value":"","error":false})",
          R"({"count":4,"raw":"<13><10>","value":"","error":false})", R"({"unsent":"+12."})"}},
        // With CR as terminator the LF starts the next line, and is all that is left at the end.
        {"--set inputTerminator=13 --set decimalSeparator=COMMA",
         {R"({"count":1,"raw":"ST, +00012.34 kg<13>","value":"12,34","error":false})",
          R"({"count":2,"raw":"<10>US, -00012,45 g<13>","value":"-12,45","error":false})",
          R"({"count":3,"raw":"<10>ST, 12345,67 kg<13>","value":"","error":false})",
          R"({"count":4,"raw":"<10><13>","value":"","error":false})", R"({"unsent":"<10>+12."})"}},
    };
    for (const auto& row : rows) {
        for (const bool viaStdin : {false, true}) {
            const CliRun run = replay(row.arguments, "capture.bin", viaStdin);
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(lines(run.out), row.expected) << row.arguments << (viaStdin ? " (stdin)" : "");
            EXPECT_EQ(run.err, "");
        }
    }
}

TEST_F(ReplayCommandTest, AFailedLineUsesUpItsNumber) {
    writeFile(dir / "failing.bin", "1.5\r\n2.5\r\n1,234.5\r\n4.5\r\n");
    const CliRun run = replay("--set instrument=GENERIC --set 'customRegEx=([0-9.,]+)'", "failing.bin");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        lines(run.out),
        (std::vector<std::string>{
            R"({"count":1,"raw":"1.5<13><10>","value":"1.5","error":false})",
            R"({"count":2,"raw":"2.5<13><10>","value":"2.5","error":false})",
            R"({"count":3,"failed":"Error [WW]: Character array contains more than one decimal point."})",
            R"({"count":4,"raw":"4.5<13><10>","value":"4.5","error":false})"}));
}

TEST_F(ReplayCommandTest, DuplicatesWithAClockStep) {
    writeFile(dir / "repeats.bin", "ST, +5.00\nST, +5.00\nST, +5.00\nST, +7.00\n");
    const std::string filter = "--set ignoreDuplicates=true --set ignoreTimeLimit=1000 ";
    struct Row {
        const char* step;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"--clock-step 600",
         {R"({"count":1,"raw":"ST, +5.00<10>","value":"5.00","error":false})",
          R"({"count":2,"raw":"ST, +5.00<10>","value":"","error":false,"suppressed":true})",
          R"({"count":3,"raw":"ST, +5.00<10>","value":"","error":false,"suppressed":true})",
          R"({"count":4,"raw":"ST, +7.00<10>","value":"7.00","error":false})"}},
        {"--clock-step 1001",
         {R"({"count":1,"raw":"ST, +5.00<10>","value":"5.00","error":false})",
          R"({"count":2,"raw":"ST, +5.00<10>","value":"5.00","error":false})",
          R"({"count":3,"raw":"ST, +5.00<10>","value":"5.00","error":false})",
          R"({"count":4,"raw":"ST, +7.00<10>","value":"7.00","error":false})"}},
    };
    for (const auto& row : rows) {
        const CliRun run = replay(filter + row.step, "repeats.bin");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(lines(run.out), row.expected) << row.step;
    }
}

TEST_F(ReplayCommandTest, TextValuesComeOutAsValidJson) {
    writeFile(dir / "text.bin", std::string("a\"b\\c\x01\xe9\t\r"));
    const CliRun run = replay(
        "--set instrument=BARCODE_ALPHA_COMPLETE --set inputTerminator=13 '--set=customRegEx=([^\\r]+)'",
        "text.bin");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["raw"], "a\"b\\c<1><233><9><13>");
    EXPECT_EQ(json["value"], "a\"b\\c\x01\u00e9\t");
}

TEST_F(ReplayCommandTest, RefusesSettingsWithStatusTwoAndNamesTheKey) {
    struct Row {
        const char* arguments;
        const char* named;
    };
    const std::vector<Row> rows = {
        {"--set decimalPlaces=9", "decimalPlaces"}, {"--set mathOperand=abc", "mathOperand"},
        {"--set 'customRegEx=(12'", "customRegEx"}, {"--set inputTerminator=300", "inputTerminator"},
        {"--set noSuchKey=1", "noSuchKey"},         {"--set decimalPlaces", "KEY=VALUE"},
    };
    for (const auto& row : rows) {
        const CliRun run = replay(row.arguments);
        EXPECT_EQ(run.status, 2) << row.arguments;
        EXPECT_NE(run.err.find(row.named), std::string::npos) << row.arguments << ": " << run.err;
        EXPECT_EQ(run.out, "") << row.arguments;
    }
}

}  // namespace
