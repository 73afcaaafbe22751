#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/Utf8.h"
#include "support/ChildProcess.h"
#include "support/LocalHttpsServer.h"
#include "support/TempDir.h"
#include "util/ReadRemoteUpdate.h"
#include "util/UpdateWorker.h"

using namespace std::chrono_literals;
using namespace std::string_literals;
using rszorvik::base::EventQueueExecutor;
using rszorvik::test::ChildProcess;
using rszorvik::test::LocalHttpsServer;
using rszorvik::test::readFile;
using rszorvik::test::SilentListener;
using rszorvik::test::TempDir;
using rszorvik::test::writeFile;
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
        // Answers sent as they are, through /raw: no status line at all, and an interim status only.
        server->putFile("http09.txt", "<version2_en>2020.2.0.0</version2_en>\n");
        server->putFile("interim-only.txt", "HTTP/1.1 100 Continue\r\n\r\n");
        server->putFile("interim-then-body.txt",
                        "HTTP/1.1 199 Odd\r\n\r\n<version2_en>2020.2.0.0</version2_en>\n");
        // What a hostile or broken server may write between the markers.
        server->putFile("latin1.xml", "<version2_en>2020.2\xe9\xff</version2_en>");
        server->putFile("controls.xml",
                        "<version2_de>\x1b]0;owned\x07\x1b[2J"s + '\0' + "\x9b" + "2020.2</version2_de>");
        files = std::make_unique<TempDir>("zorvik-update");
        if (::mkfifo((*files / "authorities.fifo").c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
        std::filesystem::create_directory(*files / "authorities.d");
        std::string huge;
        const std::string pem = readFile(server->caFile());
        while (huge.size() <= ReadRemoteUpdate::MAX_CA_FILE_BYTES)
            huge += pem;
        writeFile(*files / "huge.pem", huge);
    }
    static void TearDownTestSuite() {
        server.reset();
        files.reset();
    }

    static UpdateRequest request(const std::string& path, const std::string& language = "en") {
        return {server->url(path), kCurrent, language, server->caFile()};
    }

    static std::unique_ptr<LocalHttpsServer> server;
    static std::unique_ptr<TempDir> files;
};
std::unique_ptr<LocalHttpsServer> UpdateServer::server;
std::unique_ptr<TempDir> UpdateServer::files;

// ---- fetching: what is trusted, followed and accepted ----

enum class Trust { TestAuthority, OtherAuthority, SystemOnly, MissingFile, Folder, Device, Fifo, Huge };

struct FetchCase {
    const char* what;
    std::string path;  // on the test server; "http:" + path asks for plain HTTP
    Trust trust;
    std::optional<std::string> remote;  // the version found, or nothing when the fetch fails
    std::string error;                  // part of the failure's message
    std::string notError = "\x01";      // what the message must not say
    std::chrono::milliseconds deadline = UpdateRequest::DEADLINE;
};

void PrintTo(const FetchCase& c, std::ostream* os) {
    *os << c.what;
}

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
        case Trust::Folder:
            r.caFile = (*files / "authorities.d").string();
            break;
        case Trust::Device:
            r.caFile = "/dev/zero";
            break;
        case Trust::Fifo:
            r.caFile = (*files / "authorities.fifo").string();
            break;
        case Trust::Huge:
            r.caFile = (*files / "huge.pem").string();
            break;
    }
    r.deadline = c.deadline;
    try {
        const ReadRemoteUpdate update(r);
        ASSERT_TRUE(c.remote.has_value()) << c.what << ": fetched although it should fail";
        EXPECT_EQ(update.getRemoteVersion(), *c.remote) << c.what;
    } catch (const UpdateIOError& e) {
        ASSERT_FALSE(c.remote.has_value()) << c.what << ": " << e.what();
        const std::string message = std::string(e.what()) + " (" + e.cause() + ")";
        EXPECT_NE(message.find(c.error), std::string::npos) << c.what << ": " << message;
        EXPECT_EQ(message.find(c.notError), std::string::npos) << c.what << ": " << message;
        if (c.trust >= Trust::Folder) {
            EXPECT_NE(message.find(r.caFile), std::string::npos) << message;
        }
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
        FetchCase{"error status", "no-such-file.xml", Trust::TestAuthority, std::nullopt, "404"},
        // An authority file is read only when it is a regular file of at most 1 MiB: a folder used to
        // abort the program, /dev/zero to grow it without bound and a FIFO without writer to hang it.
        FetchCase{"authority file is a folder", "en-newer.xml", Trust::Folder, std::nullopt, "folder"},
        FetchCase{"authority file is a device", "en-newer.xml", Trust::Device, std::nullopt, "device"},
        FetchCase{"authority file is a FIFO", "en-newer.xml", Trust::Fifo, std::nullopt, "FIFO"},
        FetchCase{"authority file over 1 MiB", "en-newer.xml", Trust::Huge, std::nullopt,
                  "larger than 1048576 bytes"},
        // Answers that are no HTTP/1.0 answer are named as such, not as a refused scheme.
        FetchCase{"no status line (HTTP/0.9)", "raw?file=http09.txt", Trust::TestAuthority, std::nullopt,
                  "no status line", "Only https"},
        FetchCase{"interim status only", "raw?file=interim-only.txt", Trust::TestAuthority, std::nullopt,
                  "interim HTTP status 100", "Only https"},
        FetchCase{"interim status, then a body", "raw?file=interim-then-body.txt", Trust::TestAuthority,
                  std::nullopt, "interim HTTP status 199", "Only https"},
        // A byte every 300 ms never trips the 5 s read timeout; the deadline of the whole check ends it.
        FetchCase{"server that trickles", "trickle?every=0.3", Trust::TestAuthority, std::nullopt,
                  "Timeout (the check did not end within its deadline)", "\x01", 1500ms}));

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

// What reaches the terminal or a JSON reader when the server, the address or the authority file is
// hostile: never an abort, never raw control characters, always valid UTF-8.
struct HostileCase {
    const char* what;
    std::string url;  // a path on the test server, or a whole address
    std::vector<std::string> args;
    std::string caFile;  // empty: the test server's authority
    int status;
    std::string shown;  // part of standard output (of its JSON text with --json) or, on failure, of the error
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.what;
}

class HostileCliTest : public UpdateServer, public testing::WithParamInterface<HostileCase> {};

TEST_P(HostileCliTest, EndsInAClearResultOrError) {
    const HostileCase& c = GetParam();
    const std::string url = c.url.starts_with("https:") ? c.url : server->url(c.url);
    const CliRun run = runCli(url, c.caFile.empty() ? server->caFile() : c.caFile, c.args);
    ASSERT_EQ(run.status, c.status) << c.what << ": " << run.err;
    for (const std::string* stream : {&run.out, &run.err}) {
        EXPECT_TRUE(rszorvik::base::utf8::isValid(*stream)) << c.what << ": " << *stream;
        for (std::size_t i = 0; i < stream->size(); ++i) {
            const auto byte = static_cast<unsigned char>((*stream)[i]);
            EXPECT_TRUE((byte >= 0x20 && byte != 0x7f) || byte == '\n') << c.what << ": byte " << int(byte);
        }
        EXPECT_EQ(stream->find("\u009b"), std::string::npos) << c.what << ": a C1 control character";
    }
    std::string shown = c.status == 0 ? run.out : run.err;
    if (std::find(c.args.begin(), c.args.end(), "--json") != c.args.end()) {
        nlohmann::json json;
        ASSERT_NO_THROW(json = nlohmann::json::parse(run.out)) << c.what << ": " << run.out;
        EXPECT_EQ(json.contains("error"), c.status != 0) << c.what;
        shown = json.dump();
    }
    EXPECT_NE(shown.find(c.shown), std::string::npos) << c.what << ": " << shown;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HostileCliTest,
    testing::Values(HostileCase{"version text not UTF-8, JSON",
                                "latin1.xml",
                                {"--json", "--language", "en"},
                                "",
                                0,
                                "\"remote\":\"2020.2\uFFFD\uFFFD\""},
                    HostileCase{"address not UTF-8, JSON", "caf\xe9.xml", {"--json"}, "", 1, "caf\uFFFD.xml"},
                    HostileCase{"escape sequences and NUL in the version, plain",
                                "controls.xml",
                                {},
                                "",
                                0,
                                "remote version: <27>]0;owned<7><27>[2J<0>\uFFFD2020.2\n"},
                    HostileCase{"escape sequences and NUL in the version, JSON",
                                "controls.xml",
                                {"--json"},
                                "",
                                0,
                                "\\u001b]0;owned\\u0007\\u001b[2J\\u0000\uFFFD2020.2"},
                    HostileCase{"escape sequences in the address",
                                "https://127.0.0.1:1/\x1b]0;owned\x07",
                                {},
                                "",
                                1,
                                "https://127.0.0.1:1/<27>]0;owned<7>"},
                    HostileCase{"authority file name not UTF-8, JSON",
                                "en-newer.xml",
                                {"--json"},
                                "/tmp/ca-\xff.pem",
                                1,
                                "Cannot read the certificate authority file /tmp/ca-\uFFFD.pem"}),
    [](const auto& param) {
        std::string name;
        for (const char ch : std::string(param.param.what))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

}  // namespace
