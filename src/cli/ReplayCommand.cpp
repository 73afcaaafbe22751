#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/MessageFormat.h"
#include "base/Utf8.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "worker/ReplaySession.h"

namespace rszorvik::cli {
namespace {

constexpr std::int64_t kMaxClockStep = 86'400'000;  // a day per line is plenty for any time limit

struct ReplayOptions {
    std::vector<std::string> sets;
    std::int64_t clockStep = -1;  // milliseconds; negative: the real clock
    std::string file;             // empty or "-": standard input
};

// Appends text as a JSON string. Texts hold whole code points; any byte that is not part of one is written
// as the code point of its value, so the output is always valid UTF-8.
void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            base::utf8::append(out, base::utf8::next(text, i));
            continue;
        }
        ++i;
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            out.append("\\u00");
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
}

void appendInt(std::string& out, std::int32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// One JSON object per line, written in large blocks: a flush per line would cost more than the line.
// Written by hand: building a JSON object per line took a third of the replay's time.
class JsonLinesSink : public worker::ReplaySession::Sink {
  public:
    explicit JsonLinesSink(std::FILE* out) : out(out) { buffer.reserve(kBlock + 4096); }

    void published(const worker::DataLine& line, bool suppressed) override {
        buffer.append("{\"count\":");
        appendInt(buffer, line.getCount());
        buffer.append(",\"raw\":");
        rendered.clear();
        worker::DataLine::appendTransformed(rendered, line.getRawText());
        appendJsonString(buffer, rendered);
        buffer.append(",\"value\":");
        appendJsonString(buffer, line.getProcessedData());
        buffer.append(line.isError() ? ",\"error\":true" : ",\"error\":false");
        if (suppressed) buffer.append(",\"suppressed\":true");
        endLine();
    }

    void failed(const worker::LineFailure& failure) override {
        buffer.append("{\"count\":");
        appendInt(buffer, failure.count);
        buffer.append(",\"failed\":");
        appendJsonString(buffer, failure.message);
        endLine();
    }

    void unsent(const std::string& text) override {
        buffer.append("{\"unsent\":");
        appendJsonString(buffer, worker::DataLine::transformControlChars(text));
        endLine();
    }

    void discarded(std::size_t count, const std::string& start) override {
        buffer.append("{\"discarded\":" + std::to_string(count) + ",\"start\":");
        appendJsonString(buffer, worker::DataLine::transformControlChars(start));
        endLine();
    }

    void flush() {
        write();
        if (std::fflush(out) != 0) fail("replay", cliText("cannot.write.output") + std::strerror(errno), 1);
    }

  private:
    static constexpr std::size_t kBlock = 1 << 16;

    void endLine() {
        buffer.append("}\n");
        if (buffer.size() >= kBlock) write();
    }

    void write() {
        if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size())
            fail("replay", cliText("cannot.write.output") + std::strerror(errno), 1);
        buffer.clear();
    }

    std::FILE* out;
    std::string buffer;
    std::string rendered;
};

config::Config settingsFor(const GlobalOptions& global, const ReplayOptions& options) {
    config::Config config;
    try {
        config = openStoredSettings(global, {}).config;
    } catch (const std::exception& e) {
        fail("replay", cliText("cannot.open.settings") + e.what(), 1);
    }
    applySets(config, options.sets, "replay");
    return config;
}

void run(const GlobalOptions& global, const ReplayOptions& options) {
    const config::Config config = settingsFor(global, options);

    std::FILE* in = stdin;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(nullptr, &std::fclose);
    if (!options.file.empty() && options.file != "-") {
        opened.reset(std::fopen(options.file.c_str(), "rb"));
        if (!opened)
            fail("replay",
                 base::formatMessage(cliText("cannot.open.file"), {options.file}) + std::strerror(errno), 1);
        in = opened.get();
    }

    JsonLinesSink sink(stdout);
    worker::ReplaySession::Options sessionOptions;
    if (options.clockStep >= 0) sessionOptions.clockStep = std::chrono::milliseconds(options.clockStep);
    sessionOptions.report = [](const std::string& message) { report("replay", message); };
    std::optional<worker::ReplaySession> session;
    try {
        session.emplace(config, sink, std::move(sessionOptions));
    } catch (const std::invalid_argument& e) {
        // Settings no worker could start with: a bad expression or math operand, a terminator beyond a byte.
        fail("replay", e.what(), 2);
    }
    if (const auto why = config.mathInactiveReason(); !why.empty()) report("replay", why);

    std::vector<char> block(1 << 16);
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), in);
        if (n > 0) {
            try {
                session->feed(std::string_view(block.data(), n));
            } catch (const std::range_error& e) {
                sink.flush();
                fail("replay", e.what(), 1);
            }
        }
        if (n < block.size()) {
            if (std::ferror(in))
                fail("replay",
                     base::formatMessage(cliText("cannot.read.file"),
                                         {in == stdin ? cliText("standard.input") : options.file}),
                     1);
            break;
        }
    }
    session->finish();
    sink.flush();
}

}  // namespace

void addReplayCommand(CLI::App& app, const GlobalOptions& global) {
    auto* command = app.add_subcommand(
        "replay",
        "Run captured bytes through the processing chain as an acquisition run would: cut them into lines at "
        "the input terminator, extract and transform each value, and filter duplicates when ignoreDuplicates "
        "is on. Prints one JSON object per line: {\"count\",\"raw\",\"value\",\"error\"} (plus "
        "\"suppressed\":true for a filtered duplicate), {\"count\",\"failed\"} for a line whose processing "
        "failed, {\"discarded\",\"start\"} for a line that had no terminator after 65536 bytes, with the "
        "number of its bytes dropped up to and including its terminator (as a run drops it), and "
        "{\"unsent\"} for bytes after the last terminator.");
    auto options = std::make_shared<ReplayOptions>();
    addSetOption(*command, options->sets, "over the stored settings, for this replay only");
    command
        ->add_option("--clock-step", options->clockStep,
                     "Give line k the instant of line 1 plus (k-1)*MS milliseconds instead of the real clock")
        ->check(
            CLI::Range(std::int64_t{0}, kMaxClockStep).description("0.." + std::to_string(kMaxClockStep)));
    command->add_option("FILE", options->file, "Capture to replay; standard input when absent or -");
    command->callback([&global, options] { run(global, *options); });
}

}  // namespace rszorvik::cli
