#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/SystemProperties.h"
#include "prefs/FilePreferencesFactory.h"
#include "prefs/Logger.h"
#include "prefs/Preferences.h"
#include "support/TempDir.h"

namespace rszorvik::prefs::test {

using rszorvik::test::readFile;
using rszorvik::test::TempDir;
using rszorvik::test::writeFile;

// The file's lines that are not comments.
inline std::vector<std::string> entryLines(const std::string& content) {
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
}

// Collects everything the preferences loggers log while it lives.
class LogCapture {
  public:
    LogCapture() {
        previousThreshold = Logger::setThreshold(Logger::Level::FINE);
        previousSink = Logger::setSink([this](const Logger::Record& r) { records.push_back(r); });
    }
    ~LogCapture() {
        Logger::setSink(previousSink);
        Logger::setThreshold(previousThreshold);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool contains(const std::string& start) const {
        for (const auto& r : records)
            if (r.message.rfind(start, 0) == 0) return true;
        return false;
    }
    std::string all() const {
        std::string text;
        for (const auto& r : records)
            text += r.message + "\n";
        return text;
    }

  private:
    std::vector<Logger::Record> records;
    Logger::Level previousThreshold;
    Logger::Sink previousSink;
};

// Points the file-backed store at a file in a temporary folder; every test starts with a new store.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override { useFile(dir / "prefs.txt"); }
    void TearDown() override {
        FilePreferencesFactory::reset();
        base::SystemProperties::clear(std::string(FilePreferencesFactory::SYSTEM_PROPERTY_FILE));
        PreferencesFactory::setFactory(nullptr);
    }

    // As a new process using that file would see it.
    void useFile(const std::filesystem::path& path) {
        file = path;
        base::SystemProperties::set(std::string(FilePreferencesFactory::SYSTEM_PROPERTY_FILE), file.string());
        PreferencesFactory::setFactory(std::make_shared<FilePreferencesFactory>());
        FilePreferencesFactory::reset();
    }
    void restart() { useFile(file); }

    std::shared_ptr<Preferences> node(const std::string& path) { return Preferences::userRoot()->node(path); }

    TempDir dir;
    std::filesystem::path file;
};

}  // namespace rszorvik::prefs::test
