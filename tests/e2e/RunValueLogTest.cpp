// The value log of a real run: zorvik-sim on a pseudo-terminal, zorvik-cli run typing into the Qt window
// of a private Xvfb and recording each line, the file read back with Python's csv module; and the same
// run on a disk that fills up under it.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "base/MessageFormat.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TypingWindow.h"
#include "worker/WeightWorker.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::TempDir;
using rszorvik::test::TypingWindow;
using rszorvik::worker::WeightWorker;
namespace fs = std::filesystem;

constexpr auto kPatience = 30s;  // a limit for a hung child, not a timing check

// Reads the value log with Python's csv module as a laboratory script would: the header must be the
// columns expected, every row must have them all and a time that parses with its UTC offset and whole
// milliseconds. Prints the rows' raw, value, outcome and reason, one row a line, "|" between fields.
const char* const kReadLog = R"(
import csv, datetime, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
assert rows[0] == ['time', 'port', 'instrument', 'raw', 'value', 'outcome', 'reason'], rows[0]
for row in rows[1:]:
    assert len(row) == 7, row
    when = datetime.datetime.fromisoformat(row[0])
    assert when.tzinfo is not None and when.microsecond % 1000 == 0, row[0]
    assert row[1] == sys.argv[2] or sys.argv[2] == '', row
    print('|'.join(row[3:]))
)";

// What the log holds, as kReadLog prints it; the port is checked unless empty. Fails the test when
// Python refuses the file.
std::vector<std::string> readLog(const fs::path& file, const std::string& port) {
    ChildProcess python({"/usr/bin/python3", "-c", kReadLog, file.string(), port});
    EXPECT_EQ(python.wait(kPatience), 0) << python.err;
    std::vector<std::string> rows;
    for (std::size_t start = 0, end; (end = python.out.find('\n', start)) != std::string::npos;
         start = end + 1)
        rows.push_back(python.out.substr(start, end - start));
    return rows;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++count;
    return count;
}

class RunValueLog : public ::testing::Test {
  protected:
    void SetUp() override {
        window = TypingWindow::instance();
        ZORVIK_NEED_TYPING_WINDOW(window);
        window->setLayout("us");
    }

    // zorvik-sim sends the values with a garbage line after every second one; zorvik-cli run (behind
    // `wrapper`) types them with Enter, duplicates ignored, and records them in `log`. Returns what the
    // field holds; `cli` is the run, ended.
    std::string typeValues(const std::vector<std::string>& wrapper, const std::string& values,
                           std::size_t lines, const std::string& expected, const fs::path& log,
                           int intervalMs = 10) {
        sim = std::make_unique<ChildProcess>(
            std::vector<std::string>{ZORVIK_SIM_PATH, "--quiet", "--interval-ms", std::to_string(intervalMs),
                                     "--format", "generic", "--values", values, "--garbage-every", "2"});
        pty = sim->firstLine(kPatience);
        EXPECT_FALSE(pty.empty()) << sim->err;
        std::vector<std::string> args = wrapper;
        for (const std::string& arg :
             {std::string(ZORVIK_CLI_PATH), std::string("--prefs"), (dir.path() / "prefs.txt").string(),
              std::string("run"), std::string("--set"), std::string("delay=1"), std::string("--set"),
              std::string("outputTerminator=ENTER"), std::string("--set"),
              std::string("ignoreDuplicates=true"), std::string("--value-log"), log.string(), pty})
            args.push_back(arg);
        return window->type(
            [&] {
                cli = std::make_unique<ChildProcess>(args);
                sim->wait(kPatience);
                cli->collectUntil([&] { return countOf(cli->err, "<13>\n") >= lines; }, kPatience);
                // The simulator has left, as an unplugged instrument does: the run ends by itself.
                EXPECT_EQ(cli->wait(kPatience), 1) << cli->err;
            },
            expected);
    }

    TypingWindow* window = nullptr;
    TempDir dir;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> cli;
    std::string pty;
};

// One record per line received, the duplicate and the line without a value included, in their order.
TEST_F(RunValueLog, OneRecordPerLineThatPythonsCsvModuleReads) {
    const fs::path log = dir.path() / "values.csv";
    const std::string typed = typeValues({}, "1.5,1.5,2,-3.25", 5, "1.5\n2\n-3.25\n", log);
    EXPECT_EQ(typed, "1.5\n2\n-3.25\n") << cli->err;
    const std::string garbage = "<2>#?!~*<176><3><13>";
    EXPECT_EQ(readLog(log, pty),
              (std::vector<std::string>{"1.5<13>|1.5|typed|", "1.5<13>|1.5|duplicate|",
                                        garbage + "||not typed|" + WeightWorker::text("value.log.no.value"),
                                        "2<13>|2|typed|", "-3.25<13>|-3.25|typed|"}));
}

// The log's disk fills up during the run: typing goes on, the failure is said once, and what the file
// holds is whole records, in order; the records that never got there are counted when the run ends.
// The disk is a small tmpfs mounted in a mount namespace of the run's own; where that cannot be made,
// a file size limit on the run is the fault instead (EFBIG rather than ENOSPC).
TEST_F(RunValueLog, AFullDiskKeepsTypingAndIsSaidOnce) {
    // The log starts nearly full: a header and old records up to 200 bytes short of a 4 KiB page.
    std::string seed = "time,port,instrument,raw,value,outcome,reason\r\n";
    const std::string old = "2024-01-01T00:00:00.000+00:00,/dev/old,Generic,0<13>,0,typed,\r\n";
    while (seed.size() + old.size() <= 4096 - 200)
        seed += old;
    const fs::path seedFile = dir.path() / "seed.csv";
    rszorvik::test::writeFile(seedFile, seed);
    const fs::path disk = dir.path() / "disk";
    fs::create_directory(disk);
    const fs::path copy = dir.path() / "values-after.csv";

    // Mounts the disk, puts the seed on it, runs zorvik-cli, and copies the log out for reading.
    const std::string onTmpfs =
        R"(mnt=$1; seed=$2; out=$3; shift 3
           mount -t tmpfs -o size=4k zorvik-test "$mnt" || exit 97
           cp "$seed" "$mnt/values.csv" || exit 98
           "$@"; status=$?
           cp "$mnt/values.csv" "$out"; exit $status)";
    std::vector<std::string> wrapper{
        "/usr/bin/unshare", "--user",          "--map-root-user", "--mount", "/bin/sh", "-c", onTmpfs, "sh",
        disk.string(),      seedFile.string(), copy.string()};
    std::string reason = std::generic_category().message(ENOSPC);
    fs::path log = disk / "values.csv";
    bool tmpfs = fs::exists("/usr/bin/unshare");
    if (tmpfs) {
        ChildProcess probe({"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/sh", "-c",
                            "mount -t tmpfs -o size=4k zorvik-test \"$1\"", "sh", disk.string()});
        tmpfs = probe.wait(kPatience) == 0;
    }
    if (!tmpfs) {
        // A limit of 8 blocks of 512 bytes on every file the run writes, SIGXFSZ ignored.
        wrapper = {"/bin/sh", "-c", R"(trap '' XFSZ; ulimit -f 8; exec "$@")", "sh"};
        reason = std::generic_category().message(EFBIG);
        log = copy;
        fs::copy_file(seedFile, copy);
        std::cout << "[ NOTE     ] no mount namespace here: the fault is a file size limit\n";
    }

    const std::vector<std::string> values{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
    std::string joined, expected;
    for (const std::string& value : values) {
        joined += (joined.empty() ? "" : ",") + value;
        expected += value + "\n";
    }
    // Lines 300 ms apart: the full disk is tried again several times while the run goes on.
    const std::string typed = typeValues(wrapper, joined, values.size() + 4, expected, log, 300);
    EXPECT_EQ(typed, expected) << cli->err;

    const std::string failed = WeightWorker::text("value.log.failed");
    EXPECT_EQ(countOf(cli->err, failed.substr(0, failed.find("%1$s"))), 1U) << cli->err;
    EXPECT_EQ(countOf(cli->err, rszorvik::base::formatMessage(failed, {log.string(), reason})), 1U)
        << cli->err;

    // Whole records only: the seed's, then the first values in order; the rest are counted.
    const std::vector<std::string> rows = readLog(copy, "");
    ASSERT_GE(rows.size(), (seed.size() - 47) / old.size());
    std::vector<std::string> logged(
        rows.begin() + static_cast<std::ptrdiff_t>((seed.size() - 47) / old.size()), rows.end());
    ASSERT_LT(logged.size(), values.size() + 4) << "the disk never filled up";
    std::size_t records = 0;
    for (const std::string& row : logged)
        if (row.find("|typed|") != std::string::npos) {
            EXPECT_EQ(row, values[records] + "<13>|" + values[records] + "|typed|");
            ++records;
        }
    const std::string counted =
        rszorvik::base::formatMessage(WeightWorker::text("value.log.unwritten"),
                                      {std::to_string(values.size() + 4 - logged.size()), log.string()});
    EXPECT_NE(cli->err.find(counted), std::string::npos) << counted << "\n" << cli->err;
}

}  // namespace
