// A busy instrument against the window: zorvik-sim sends LINES lines, one every INTERVAL_MS, into the
// running window (offscreen; the values go to a key injector that only counts them) while a 10 ms timer
// measures how late the GUI thread serves it. Prints the line rate reached, the timer's lateness (p50, p99,
// max), the values typed against the lines sent, and the resident memory after 10 s and at the end.
//
//   WindowLoadBench [LINES [INTERVAL_MS]]   (defaults 30000 and 1: over 500 lines/s; from a Release build)
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/RevareRiDevFrame2.h"
#include "base/SystemProperties.h"
#include "base/VirtualKeys.h"
#include "platform/KeyInjector.h"

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

// Counts the values typed by their terminator (Enter) and sends nothing.
class CountingInjector : public rszorvik::platform::KeyInjector {
  public:
    explicit CountingInjector(std::atomic<long>& values) : values(values) {}
    void keyPress(int keyCode) override {
        if (keyCode == rszorvik::Vk::ENTER) ++values;
    }
    void keyRelease(int) override {}
    void delay(int) override {}
    bool lastKeyWasDead() const override { return false; }

  private:
    std::atomic<long>& values;
};

// No modal box may block the measurement: every dialog goes to standard error.
class PrintedDialogs : public rszorvik::Dialogs {
  public:
    void message(QWidget*, const QString& text, const QString& title, Icon) override {
        std::cerr << "dialog: " << title.toStdString() << ": " << text.toStdString() << '\n';
    }
    bool ask(QWidget* parent, const QString& text, const QString& title, Buttons, Icon icon) override {
        message(parent, text, title, icon);
        return false;
    }
    QString chooseSaveFile(QWidget*, const QString&, const QString&) override { return {}; }
    QString chooseOpenFile(QWidget*, const QString&) override { return {}; }
    int exec(QDialog&) override { return 0; }
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

}  // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 30000;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 1;
    if (lines <= 0 || interval <= 0) {
        std::cerr << "usage: WindowLoadBench [LINES [INTERVAL_MS]]\n";
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    rszorvik::base::SystemProperties::set("ZSP_OSNAME", "Windows");
    rszorvik::base::SystemProperties::set("ZSP_OSARCH", "x86");

    // The simulator ends by itself after its lines; its first output line is the terminal to read.
    const std::string command = std::string(ZORVIK_SIM_PATH) +
                                " --quiet --format generic --random --from 1 --to 1000 --step 0.37 --seed 7" +
                                " --interval-ms " + std::to_string(interval) + " --count " +
                                std::to_string(lines);
    FILE* sim = popen(command.c_str(), "r");
    if (sim == nullptr) return 1;
    char pty[256] = {0};
    if (std::fgets(pty, sizeof pty, sim) == nullptr) return 1;
    std::string port(pty);
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r'))
        port.pop_back();

    QApplication app(argc, argv);
    PrintedDialogs dialogs;
    rszorvik::Dialogs::install(&dialogs);
    rszorvik::config::Config config;
    config.setPort(port);
    config.setInstrument(rszorvik::config::ConfigHelper::Instrument::GENERIC);
    config.setInputTerminator(13);
    config.setOutputTerminator(rszorvik::config::ConfigHelper::OutputTerminator::ENTER);
    config.setDelay("0");
    std::atomic<long> typed{0};
    rszorvik::RevareRiDevFrame2 frame(config, {port});
    rszorvik::worker::OutputRun::Options options;
    options.injector = [&typed] { return std::make_unique<CountingInjector>(typed); };
    options.capsLockOn = [] { return false; };
    frame.setOutputOptions(options);
    frame.show();

    std::vector<double> lateness;
    lateness.reserve(static_cast<std::size_t>(lines * interval / 10 + 1000));
    long rssAt10 = -1;
    QElapsedTimer clock;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    qint64 expected = 0;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(static_cast<double>(std::max<qint64>(0, now - expected)) / 1e6);
        expected = now + 10'000'000;
        if (rssAt10 < 0 && now > 10'000'000'000LL) rssAt10 = residentKiB();
    });
    QTimer::singleShot(0, &app, [&] {
        QMetaObject::invokeMethod(frame.findChild<QWidget*>(QStringLiteral("startStopJButton")), "click");
        clock.start();
        expected = 10'000'000;
        tick.start();
    });
    // The run ends by itself when the simulator is through (the port goes away); a stop after twice the
    // time only guards against a simulator that hangs.
    QTimer::singleShot(static_cast<int>(std::min<long>(lines * interval * 3 + 10000, 3'600'000)), &app, [&] {
        if (frame.isConnected())
            QMetaObject::invokeMethod(frame.findChild<QWidget*>(QStringLiteral("startStopJButton")), "click");
    });
    qint64 ended = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (getenv("BENCH_DEBUG"))
            std::cerr << "t " << clock.elapsed() << " connected " << frame.isConnected() << " typed " << typed
                      << " status " << frame.statusLabel()->text().toStdString() << '\n';
        if (!clock.isValid() || frame.isConnected() || clock.elapsed() < 1000) return;
        ended = clock.elapsed();
        tick.stop();
        app.quit();
    });
    poll.start(100);
    const long rssStart = residentKiB();
    app.exec();
    const long rssEnd = residentKiB();
    pclose(sim);

    std::cout << "lines sent " << lines << " in " << static_cast<double>(ended) / 1000 << " s ("
              << static_cast<double>(lines) * 1000 / static_cast<double>(std::max<qint64>(ended, 1))
              << " lines/s)\n"
              << "values typed " << typed.load() << '\n'
              << "log lines kept " << frame.eventLog()->document()->blockCount() << '\n'
              << "status " << frame.statusLabel()->text().toStdString() << '\n'
              << "timer lateness ms: p50 " << percentile(lateness, 0.5) << " p99 "
              << percentile(lateness, 0.99) << " max " << percentile(lateness, 1.0) << " (" << lateness.size()
              << " ticks)\n"
              << "resident KiB: start " << rssStart << " after 10 s " << rssAt10 << " end " << rssEnd << '\n';
    return 0;
}
