#include "app/Screenshots.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTime>
#include <iostream>

#include "app/AutoPortDialog.h"
#include "app/CustomRegExDialog.h"
#include "app/EventLog.h"
#include "app/IgnoreDialog.h"
#include "app/RevareRiDevFrame2.h"
#include "base/MessageCatalog.h"

namespace rszorvik {
namespace {

using config::Config;
using config::ConfigHelper::Instrument;
using config::ConfigHelper::OutputTerminator;

Config sampleRecord() {
    Config config;
    config.setPort("/dev/ttyUSB0");
    // A balance that answers when asked, so that the request controls show what they do.
    config.setInstrument(Instrument::METTLER_SICS);
    config.setReconnect(true);
    config.setRequestHotKey("Ctrl+Alt+R");
    config.setBitRate(config::ConfigHelper::BitRates::getDefault());
    config.setDataBits(config::ConfigHelper::DataBits::getDefault());
    config.setStopBits(config::ConfigHelper::StopBits::getDefault());
    config.setParity(config::ConfigHelper::Parity::getDefault());
    config.setHandshake(config::ConfigHelper::Handshake::getDefault());
    config.setInputTerminator(config::ConfigHelper::InputTerminator::getDefault());
    config.setOutputTerminator(OutputTerminator::ENTER);
    config.setDecimalPlaces("2");
    return config;
}

void fillSampleLog(EventLog& log) {
    using Style = EventLog::Style;
    const QString at = EventLog::timePrefix(QTime(9, 41, 7));
    log.append({{at + QStringLiteral("Port opened: /dev/ttyUSB0\n"), Style::Regular}});
    log.append({{at, Style::Regular},
                {QStringLiteral("ST,GS,  "), Style::Ignored},
                {QStringLiteral("+12.345"), Style::Typed},
                {QStringLiteral(" kg<CR><LF>\n"), Style::Ignored}});
    log.append({{at + QStringLiteral("<ESC>ST,GS,+12.345 kg<CR><LF>\n"), Style::Unknown}});
    log.append({{at + QStringLiteral("OL<CR><LF>\n"), Style::Ignored}});
    log.append({{at + QStringLiteral("Parity error\n"), Style::Important}});
}

int save(QWidget& widget, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    if (widget.grab().save(path)) return 1;
    std::cerr << "cannot write " << path.toStdString() << '\n';
    return 0;
}

// Shows a dialog without blocking, takes its picture and closes it.
int saveDialog(QDialog& dialog, const QDir& dir, const QString& name) {
    dialog.adjustSize();
    dialog.show();
    QApplication::processEvents();
    const int written = save(dialog, dir, name);
    dialog.reject();
    return written;
}

// The detection dialog as it looks after probing two ports, without touching a real port.
int renderAutoPortDialog(QWidget* owner, const QDir& dir, const QString& name) {
    using Style = worker::AutoPortWorkerView::Style;
    const auto& bundle = base::MessageCatalog::get("rszorvik.worker.WorkerBundle");
    AutoPortDialog dialog(owner, [](const std::string&) {});
    dialog.update(bundle.getString("auto.port.detection.started"), std::nullopt);
    for (const auto& [port, confidence] : {std::pair{"/dev/ttyS0", "0"}, std::pair{"/dev/ttyUSB0", "2"}}) {
        auto testing = bundle.getString("testing.port.0");
        testing.replace(testing.find("{0}"), 3, port);
        dialog.update(testing, std::nullopt);
        dialog.update(bundle.getString("confidence") + " " + confidence, std::nullopt);
    }
    dialog.update(bundle.getString("best.port") + " /dev/ttyUSB0", Style::EMPHASIS);
    dialog.setButtonToClose();
    return saveDialog(dialog, dir, name);
}

}  // namespace

int renderScreenshots(const QString& dirPath, texts::Language language) {
    texts::setLanguage(language);
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::cerr << "cannot create " << dirPath.toStdString() << '\n';
        return 0;
    }
    const QString prefix =
        language == texts::Language::German ? QStringLiteral("de-") : QStringLiteral("en-");

    Config config = sampleRecord();
    RevareRiDevFrame2 window(config, {"/dev/ttyUSB0: FT232R USB UART - FTDI", "/dev/ttyS0"});
    fillSampleLog(*window.eventLog());
    window.resize(window.sizeHint());
    window.show();
    QApplication::processEvents();

    int written = 0;
    QTabWidget& tabs = *window.tabbedPane();
    for (int i = 0; i < tabs.count(); ++i) {
        tabs.setCurrentIndex(i);
        QApplication::processEvents();
        written += save(window, dir,
                        prefix + QStringLiteral("%1-").arg(i + 1, 2, 10, QLatin1Char('0')) +
                            tabs.widget(i)->objectName());
    }

    // The Start tab while output runs, with the request button.
    tabs.setCurrentIndex(0);
    window.setConnectedInGUI(true);
    // The running look is posted, and its status line once more from there.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    written += save(window, dir, prefix + QStringLiteral("01-panel1-running"));
    window.setConnectedInGUI(false);
    QApplication::processEvents();

    CustomRegExDialog regExDialog(&window, QStringLiteral("ST,GS,\\s*([-+]?[0-9.]+)\\s*kg"));
    written += saveDialog(regExDialog, dir, prefix + QStringLiteral("CustomRegExDialog"));
    IgnoreDialog ignoreDialog(&window, config);
    written += saveDialog(ignoreDialog, dir, prefix + QStringLiteral("IgnoreDialog"));
    written += renderAutoPortDialog(&window, dir, prefix + QStringLiteral("AutoPortDialog"));
    return written;
}

}  // namespace rszorvik
