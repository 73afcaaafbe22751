#include "app/Screenshots.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTime>
#include <iostream>
#include <type_traits>

#include "app/EventLog.h"
#include "app/RevareRiDevFrame2.h"

#if __has_include("app/CustomRegExDialog.h")
#include "app/CustomRegExDialog.h"
#define ZORVIK_HAVE_CUSTOM_REGEX_DIALOG 1
#endif
#if __has_include("app/IgnoreDialog.h")
#include "app/IgnoreDialog.h"
#define ZORVIK_HAVE_IGNORE_DIALOG 1
#endif
#if __has_include("app/AutoPortDialog.h")
#include "app/AutoPortDialog.h"
#define ZORVIK_HAVE_AUTO_PORT_DIALOG 1
#endif

namespace rszorvik {
namespace {

using config::Config;
using config::ConfigHelper::Instrument;
using config::ConfigHelper::OutputTerminator;

Config sampleRecord() {
    Config config;
    config.setPort("/dev/ttyUSB0");
    config.setInstrument(Instrument::getDefault());
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
[[maybe_unused]] int saveDialog(QDialog& dialog, const QDir& dir, const QString& name) {
    dialog.adjustSize();
    dialog.show();
    QApplication::processEvents();
    const int written = save(dialog, dir, name);
    dialog.reject();
    return written;
}

// The dialogs are built by their own code; whichever of the usual constructors a dialog offers is used.
template <class D>
int renderDialog(QWidget* owner, Config& config, const QDir& dir, const QString& name) {
    if constexpr (std::is_constructible_v<D, QWidget*, Config&>) {
        D dialog(owner, config);
        return saveDialog(dialog, dir, name);
    } else if constexpr (std::is_constructible_v<D, QWidget*, QString>) {
        D dialog(owner,
                 QString::fromStdString(config::ConfigHelper::Instrument::getDefault().getPattern().data()));
        return saveDialog(dialog, dir, name);
    } else if constexpr (std::is_constructible_v<D, QWidget*>) {
        D dialog(owner);
        return saveDialog(dialog, dir, name);
    } else {
        std::cerr << "screenshots: no known constructor for " << name.toStdString() << ", skipped\n";
        return 0;
    }
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

#ifdef ZORVIK_HAVE_CUSTOM_REGEX_DIALOG
    written +=
        renderDialog<CustomRegExDialog>(&window, config, dir, prefix + QStringLiteral("CustomRegExDialog"));
#else
    std::cerr << "screenshots: CustomRegExDialog is not in this build, skipped\n";
#endif
#ifdef ZORVIK_HAVE_IGNORE_DIALOG
    written += renderDialog<IgnoreDialog>(&window, config, dir, prefix + QStringLiteral("IgnoreDialog"));
#else
    std::cerr << "screenshots: IgnoreDialog is not in this build, skipped\n";
#endif
#ifdef ZORVIK_HAVE_AUTO_PORT_DIALOG
    written += renderDialog<AutoPortDialog>(&window, config, dir, prefix + QStringLiteral("AutoPortDialog"));
#else
    std::cerr << "screenshots: AutoPortDialog is not in this build, skipped\n";
#endif
    return written;
}

}  // namespace rszorvik
