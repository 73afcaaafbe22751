// The settings file survives a writer that dies at any moment and a disk that fills up mid-save.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "base/Properties.h"
#include "prefs/SettingsStore.h"
#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using config::Config;
using test::readFile;
namespace CH = config::ConfigHelper;

// A preset's defaults as the window would save them.
Config first() {
    Config c = CH::Instrument(CH::Instrument::METTLER_SICS).getDefaultConfig();
    c.setInstrument(CH::Instrument::METTLER_SICS);
    c.setPort("/dev/ttyS3");
    return c;
}

Config second() {
    Config c;
    c.setPort("/dev/ttyUSB1");
    c.setInstrument(CH::Instrument::BARCODE);
    c.setBitRate(11);
    c.setDataBits(2);
    c.setStopBits(1);
    c.setParity(2);
    c.setInputTerminator(10);
    c.setHandshake(1);
    c.setConnect(CH::Connect::AUTO);
    c.setKeyboardType(CH::KeyboardType::GERMAN);
    c.setDelay("35");
    c.setDecimalSeparator(CH::DecimalSeparator::COMMA);
    c.setStartWith(CH::StartWith::F2);
    c.setOutputTerminator(CH::OutputTerminator::TAB);
    c.setOutputTerminator2(CH::OutputTerminator::ENTER);
    c.setEveryXValues("3");
    c.setMathOperation(CH::MathOperation::MULTIPLY);
    c.setMathOperand("2.5");
    c.setDecimalPlaces("3");
    c.setRoundingMethod(CH::RoundingMethod::HALF_EVEN);
    c.setSound(CH::Sound::CLAVES);
    c.minimizeToTray = true;
    c.notifyWhenMinimizedToTray = true;
    c.checkForUpdates = false;
    c.abortAutoStartWhenPrevPortNotAvailable = true;
    c.setEditOperation(CH::EditOperation::KEEP);
    c.setEditPosition(CH::EditPosition::LAST);
    c.setEditNumCharacters("4");
    c.setRemoveCharacters(std::string(400, 'r'));
    c.setCustomRegEx("W:\\s*([0-9.]+)");
    c.ignoreDuplicates = true;
    c.setIgnoreTimeLimit("500");
    c.setIgnoreDifference("0.01");
    return c;
}

std::vector<std::string> temporaries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".prefs.txt.tmp"))
            names.push_back(entry.path().filename());
    return names;
}

class PrefsCrashTest : public test::StoreTest {
  protected:
    Config loadFresh(bool& clean) {
        restart();
        Config loaded;
        clean = loadConfig(*node(std::string(Config::kNodePath)), loaded, {"/dev/ttyS0"});
        return loaded;
    }
};

TEST_F(PrefsCrashTest, AWriterKilledInTheMiddleOfSavingLeavesACompleteFile) {
    saveConfig(*node(std::string(Config::kNodePath)), first());
    std::mt19937 random(12345);
    int caughtMidWrite = 0;
    for (int round = 0; round < 50; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves the two records in turn until killed; never returns into the test runner.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            try {
                restart();
                auto settings = node(std::string(Config::kNodePath));
                const Config records[] = {first(), second()};
                for (unsigned i = 0;; ++i)
                    saveConfig(*settings, records[i % 2]);
            } catch (...) {
            }
            _exit(3);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving process ended by itself";
        if (!temporaries(dir.path()).empty()) ++caughtMidWrite;

        const std::string content = readFile(file);
        ASSERT_EQ(content.rfind("#FilePreferences\n#", 0), 0u) << "round " << round;
        ASSERT_NO_THROW(base::Properties::parse(content)) << "round " << round;
        bool clean = false;
        Config loaded = loadFresh(clean);
        EXPECT_TRUE(clean) << "round " << round;
        EXPECT_TRUE(!Config::hasChanged(loaded, first()) || !Config::hasChanged(loaded, second()))
            << "round " << round << " holds a mixture:\n"
            << content;
    }
    std::cout << "kills that left a half-written temporary file: " << caughtMidWrite << " of 50\n";
    // The next save removes what the killed writers left behind.
    saveConfig(*node(std::string(Config::kNodePath)), second());
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

// A file size limit makes every write beyond it fail as a full disk would.
TEST_F(PrefsCrashTest, AFullDiskDuringASaveKeepsTheOldFile) {
    saveConfig(*node(std::string(Config::kNodePath)), first());
    const std::string before = readFile(file);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200, 200};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            restart();
            test::LogCapture quiet;
            saveConfig(*node(std::string(Config::kNodePath)), second());
        } catch (const BackingStoreException&) {
            _exit(0);
        } catch (...) {
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed save was not reported";
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace rszorvik::prefs
