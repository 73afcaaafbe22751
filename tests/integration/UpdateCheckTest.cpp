#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "support/ChildProcess.h"
#include "support/LocalHttpsServer.h"
#include "util/ReadRemoteUpdate.h"
#include "util/UpdateWorker.h"

using namespace std::chrono_literals;
using rszorvik::base::EventQueueExecutor;
using rszorvik::test::ChildProcess;
using rszorvik::test::LocalHttpsServer;
using rszorvik::test::SilentListener;
using rszorvik::util::ReadRemoteUpdate;
using rszorvik::util::UpdateIOError;
using rszorvik::util::UpdateRequest;
using rszorvik::util::UpdateWorker;
using rszorvik::util::UpdateWorkerView;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kCurrent = "2020.1.0.0";

std::string T(const char* key) {
    return UpdateWorker::catalogueText(key);
}

// One server for the whole file: making its certificates takes a moment.
class UpdateServer : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = std::make_unique<LocalHttpsServer>();
        server->putFile("en-current.xml",
                        "<versions>\n<version2_de>2020.1.0.0</version2_de>\n"
                        "<version2_en>2020.1.0.0</version2_en>\n</versions>\n");
        server->putFile("de-only.xml", "<versions><version2_de>2020.2.0.0</version2_de></versions>");
        server->putFile("en-newer.xml",
                        "<versions>\r\n<version2_en>2020.2.0.0</version2_en>\r\n</versions>\r\n");
        server->putFile("three-lines.xml",
                        "<versions>\n<version2_en>\n    2020.2.0.0\n</version2_en>\n</versions>\n");
        const std::string element = "<version2_en>2020.2.0.0</version2_en>";
        server->putFile("at-cap.xml",
                        element + std::string(ReadRemoteUpdate::MAX_CONTENT_BYTES - element.size(), ' '));
        server->putFile("over-cap.xml",
                        element + std::string(ReadRemoteUpdate::MAX_CONTENT_BYTES - element.size() + 1, ' '));
    }
    static void TearDownTestSuite() { server.reset(); }

    static UpdateRequest request(const std::string& path, const std::string& language = "en") {
        return {server->url(path), kCurrent, language, server->caFile()};
    }

    static std::unique_ptr<LocalHttpsServer> server;
};
std::unique_ptr<LocalHttpsServer> UpdateServer::server;

// ---- fetching: what is trusted, followed and accepted ----

enum class Trust { TestAuthority, OtherAuthority, SystemOnly, MissingFile };

struct FetchCase {
    const char* what;
    std::string path;  // on the test server; "http:" + path asks for plain HTTP
    Trust trust;
    std::optional<std::string> remote;  // the version found, or nothing when the fetch fails
    std::string error;                  // part of the failure's message
};

class FetchTest : public UpdateServer, public testing::WithParamInterface<FetchCase> {};

TEST_P(FetchTest, FetchesOnlyWhatItShould) {
    const FetchCase& c = GetParam();
    UpdateRequest r = request(c.path);
    if (c.path.starts_with("http:"))
        r.url = "http://127.0.0.1:" + std::to_string(server->port()) + "/" + c.path.substr(5);
    if (c.path.starts_with("redirect-to-http"))
        r.url =
            server->url("redirect?to=http://127.0.0.1:" + std::to_string(server->port()) + "/en-newer.xml");
    if (c.path.starts_with("redirect-to-https"))
        r.url = server->url("redirect?to=" + server->url("en-newer.xml"));
    switch (c.trust) {
        case Trust::TestAuthority:
            break;
        case Trust::OtherAuthority:
            r.caFile = server->otherCaFile();
            break;
        case Trust::SystemOnly:
            r.caFile.clear();
            break;
        case Trust::MissingFile:
            r.caFile = server->caFile() + ".missing";
            break;
    }
    try {
        const ReadRemoteUpdate update(r);
        ASSERT_TRUE(c.remote.has_value()) << c.what << ": fetched although it should fail";
        EXPECT_EQ(update.getRemoteVersion(), *c.remote) << c.what;
    } catch (const UpdateIOError& e) {
        ASSERT_FALSE(c.remote.has_value()) << c.what << ": " << e.what();
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.what << ": " << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FetchTest,
    testing::Values(
        FetchCase{"trusted through the extra authority", "en-newer.xml", Trust::TestAuthority, "2020.2.0.0",
                  ""},
        FetchCase{"signed by an authority the test did not trust", "en-newer.xml", Trust::OtherAuthority,
                  std::nullopt, "certificate"},
        FetchCase{"only the system's authorities", "en-newer.xml", Trust::SystemOnly, std::nullopt,
                  "certificate"},
        FetchCase{"authority file missing", "en-newer.xml", Trust::MissingFile, std::nullopt,
                  "Cannot read the certificate authority file"},
        FetchCase{"exactly the longest body", "at-cap.xml", Trust::TestAuthority, "2020.2.0.0", ""},
        FetchCase{"one byte over", "over-cap.xml", Trust::TestAuthority, std::nullopt,
                  "longer than 65536 bytes"},
        FetchCase{"redirect to https", "redirect-to-https", Trust::TestAuthority, "2020.2.0.0", ""},
        FetchCase{"redirect to http", "redirect-to-http", Trust::TestAuthority, std::nullopt, "Only https"},
        FetchCase{"plain http address", "http:en-newer.xml", Trust::TestAuthority, std::nullopt,
                  "Only https"},
        FetchCase{"error status", "no-such-file.xml", Trust::TestAuthority, std::nullopt, "404"}));

TEST_F(UpdateServer, ServerThatReadsTheRequestAndNeverAnswersTimesOut) {
    const auto start = Clock::now();
    try {
        ReadRemoteUpdate update(request("stall"));
        FAIL() << "a silent server gave a version";
    } catch (const UpdateIOError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, ReadRemoteUpdate::READ_TIMEOUT);
    // Well below two timeouts back to back; the margin is for a loaded machine and the sanitizers'
    // slow TLS handshake.
    EXPECT_LT(took, ReadRemoteUpdate::READ_TIMEOUT + 4s);
}

// ---- the worker: the texts the status line shows ----

class RecordingView : public UpdateWorkerView {
  public:
    void setText(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

struct Check {
    EventQueueExecutor executor;
    RecordingView view;
    std::shared_ptr<UpdateWorker> worker;

    explicit Check(UpdateRequest request) {
        worker = std::make_shared<UpdateWorker>(executor, view, std::move(request));
    }
    // The worker's thread holds the task until it leaves; let it go first, so that the task's end joins the
    // thread (and OpenSSL frees that thread's state) before the process exits.
    ~Check() {
        const auto end = Clock::now() + 10s;
        while (worker.use_count() > 1 && Clock::now() < end)
            std::this_thread::sleep_for(1ms);
    }
    // Runs the check to the end of done(); false when it did not end in time.
    bool run(std::chrono::milliseconds patience = 10s) {
        worker->execute();
        return runToEnd(patience);
    }
    // DONE is set in the same executor task that then runs done().
    bool runToEnd(std::chrono::milliseconds patience) {
        return executor.runUntil([this] { return worker->getState() == UpdateWorker::State::DONE; },
                                 patience);
    }
};

struct StatusCase {
    const char* what;
    const char* path;
    const char* language;
    std::vector<const char*> keys;  // the texts shown, in order
};

class StatusTest : public UpdateServer, public testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, ShowsTheOutcome) {
    const StatusCase& c = GetParam();
    Check check(request(c.path, c.language));
    ASSERT_TRUE(check.run()) << c.what;
    std::vector<std::string> expected;
    for (const char* key : c.keys)
        expected.push_back(T(key));
    EXPECT_EQ(check.view.texts, expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Files, StatusTest,
    testing::Values(
        StatusCase{"English user, same version",
                   "en-current.xml",
                   "en",
                   {"checking.for.update", "RevareRiDevFrame2.statusJLabel.text"}},
        StatusCase{"English user, only a German entry",
                   "de-only.xml",
                   "en",
                   {"checking.for.update", "RevareRiDevFrame2.statusJLabel.text"}},
        StatusCase{"German user, newer German entry",
                   "de-only.xml",
                   "de",
                   {"checking.for.update", "update.available"}},
        StatusCase{"English user, newer English entry",
                   "en-newer.xml",
                   "en",
                   {"checking.for.update", "update.available"}},
        StatusCase{"element over three lines",
                   "three-lines.xml",
                   "en",
                   {"checking.for.update", "RevareRiDevFrame2.statusJLabel.text"}},
        StatusCase{"no version file", "missing.xml", "en", {"checking.for.update", "update.check.failed"}}));

TEST(UpdateWorkerTimeout, ServerThatAcceptsAndNeverAnswersFailsAfterFiveSeconds) {
    SilentListener silent;
    Check check({silent.url("version.xml"), kCurrent, "en", {}});
    const auto start = Clock::now();
    ASSERT_TRUE(check.run(15s));
    const auto took = Clock::now() - start;
    EXPECT_EQ(check.view.texts,
              (std::vector<std::string>{T("checking.for.update"), T("update.check.failed")}));
    EXPECT_GE(took, ReadRemoteUpdate::CONNECT_TIMEOUT);
    EXPECT_LT(took, ReadRemoteUpdate::CONNECT_TIMEOUT + 2s);
}

TEST_F(UpdateServer, CancellingWithInterruptionEndsAStalledCheckAtOnce) {
    Check check(request("stall"));
    check.worker->execute();
    ASSERT_TRUE(check.executor.runUntil([&] { return !check.view.texts.empty(); }, 5s));
    std::this_thread::sleep_for(200ms);  // the request is on its way
    const auto start = Clock::now();
    EXPECT_TRUE(check.worker->cancel(true));
    // done() follows only once the worker's thread has left the transfer
    ASSERT_TRUE(check.runToEnd(5s));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(check.view.texts, std::vector<std::string>{T("checking.for.update")});
}

// ---- zorvik-cli update-check ----

struct CliRun {
    int status;
    std::string out, err;
};

CliRun runCli(const std::string& url, const std::string& caFile, std::vector<std::string> args) {
    ::setenv("ZORVIK_UPDATE_URL", url.c_str(), 1);
    ::setenv("ZORVIK_CA_FILE", caFile.c_str(), 1);
    args.insert(args.begin(), {ZORVIK_CLI_PATH, "update-check"});
    ChildProcess cli(args);
    const int status = cli.wait(20s);
    ::unsetenv("ZORVIK_UPDATE_URL");
    ::unsetenv("ZORVIK_CA_FILE");
    return {status, cli.out, cli.err};
}

TEST_F(UpdateServer, CliPrintsBothVersionsAsJson) {
    const CliRun run = runCli(server->url("en-newer.xml"), server->caFile(), {"--json", "--language", "en"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["url"], server->url("en-newer.xml"));
    EXPECT_EQ(json["current"], kCurrent);
    EXPECT_EQ(json["remote"], "2020.2.0.0");
    EXPECT_EQ(json["newer"], true);
}

TEST_F(UpdateServer, CliReadsTheGermanEntryByDefault) {
    const CliRun run = runCli(server->url("en-current.xml"), server->caFile(), {});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "current version: 2020.1.0.0\nremote version: 2020.1.0.0\nnewer version available: no\n");
}

TEST_F(UpdateServer, CliReportsAFailureWithStatusOne) {
    const CliRun run = runCli(server->url("en-newer.xml"), server->otherCaFile(), {"--json"});
    EXPECT_EQ(run.status, 1);
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_NE(json["error"].get<std::string>().find("certificate"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("zorvik-cli update-check: " + server->url("en-newer.xml") + ": "),
              std::string::npos)
        << run.err;
}

}  // namespace
