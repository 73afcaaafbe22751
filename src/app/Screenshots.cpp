#include "app/Screenshots.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <QToolTip>
#include <iostream>

#include "app/AutoPortDialog.h"
#include "app/CatalogText.h"
#include "app/CustomRegExDialog.h"
#include "app/Dialogs.h"
#include "app/EventLog.h"
#include "app/IgnoreDialog.h"
#include "app/QtTranslations.h"
#include "app/RevareRiDevFrame2.h"
#include "app/Texts.h"
#include "app/ToolTips.h"
#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "worker/WeightWorker.h"

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
    config.setValueLog("/home/lab/zorvik-values.csv");
    return config;
}

// The lines a run logs, in the window's language: the opened port, values, a line without value, a line
// the value could not be placed in and a parity error.
void fillSampleLog(EventLog& log) {
    using Style = EventLog::Style;
    const auto worker = [](const char* key) { return worker::WeightWorker::text(key); };
    const QString at = EventLog::timePrefix(QTime(9, 41, 7));
    const QString opened = QString::fromStdString(base::formatMessage(
        worker("port.opened"), {"/dev/ttyUSB0", "9600", "8", "1", worker("parity.name.NONE")}));
    log.append({{at + opened + QLatin1Char('\n'), Style::Regular}});
    log.append({{at, Style::Regular},
                {QStringLiteral("ST,GS,  "), Style::Ignored},
                {QStringLiteral("+12.345"), Style::Typed},
                {QStringLiteral(" kg<CR><LF>\n"), Style::Ignored}});
    log.append({{at + QStringLiteral("<ESC>ST,GS,+12.345 kg<CR><LF>\n"), Style::Unknown}});
    log.append({{at + QStringLiteral("OL<CR><LF>\n"), Style::Ignored}});
    log.append({{at + QString::fromStdString(worker("parity.error")) + QLatin1Char('\n'), Style::Important}});
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

// A question exactly as the window asks it.
int saveQuestion(QWidget* owner, const QDir& dir, const QString& name, const char* textKey,
                 const char* titleKey, Dialogs::Buttons buttons) {
    const auto box = QtDialogs::questionBox(owner, catalogText(textKey), catalogText(titleKey), buttons,
                                            Dialogs::Icon::Question);
    return saveDialog(*box, dir, name);
}

// The export's file chooser in a folder of its own, so that the picture does not show this machine's files.
int saveFileChooser(QWidget* owner, const QDir& dir, const QString& name) {
    const QTemporaryDir folder;
    if (!folder.isValid()) {
        std::cerr << "cannot create a folder for the file chooser\n";
        return 0;
    }
    for (const char* file : {"zorvik.xml", "waage-labor.xml"}) {
        QFile sample(folder.filePath(QString::fromLatin1(file)));
        if (!sample.open(QIODevice::WriteOnly) || sample.write(QByteArray(2400, ' ')) != 2400)
            std::cerr << "cannot create " << file << " for the file chooser\n";
    }
    const auto chooser =
        QtDialogs::saveFileDialog(owner, catalogText("RevareRiDevFrame2.exportSettingsButton.text"),
                                  folder.filePath(QStringLiteral("zorvik.xml")));
    chooser->resize(860, 420);
    chooser->show();
    // The chooser reads its folder in the background.
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(25);
    }
    const int written = save(*chooser, dir, name);
    chooser->reject();
    return written;
}

// A tooltip as the window shows it when the pointer rests on the control.
int saveToolTip(QWidget& control, const QDir& dir, const QString& name) {
    QToolTip::showText(control.mapToGlobal(QPoint(8, control.height())), readableToolTip(control.toolTip()),
                       &control);
    QApplication::processEvents();
    int written = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QTipLabel") && widget->isVisible()) written = save(*widget, dir, name);
    QToolTip::hideText();
    if (written == 0) std::cerr << "no tooltip to take a picture of for " << name.toStdString() << '\n';
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
    useQtTranslations(language);
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

    window.tabbedPane()->setCurrentIndex(RevareRiDevFrame2::InputTab);
    QApplication::processEvents();
    written += saveToolTip(*window.findChild<QWidget*>(QStringLiteral("instrumentBox")), dir,
                           prefix + QStringLiteral("ToolTip"));

    CustomRegExDialog regExDialog(&window, QStringLiteral("ST,GS,\\s*([-+]?[0-9.]+)\\s*kg"));
    written += saveDialog(regExDialog, dir, prefix + QStringLiteral("CustomRegExDialog"));
    IgnoreDialog ignoreDialog(&window, config);
    written += saveDialog(ignoreDialog, dir, prefix + QStringLiteral("IgnoreDialog"));
    written += renderAutoPortDialog(&window, dir, prefix + QStringLiteral("AutoPortDialog"));
    written += saveQuestion(&window, dir, prefix + QStringLiteral("InstrumentChangeQuestion"),
                            "drop.custom.expression", "confirm", Dialogs::Buttons::YesNo);
    written += saveQuestion(&window, dir, prefix + QStringLiteral("OverwriteQuestion"),
                            "file.already.exists.overwrite", "overwrite", Dialogs::Buttons::OkCancel);
    written +=
        saveQuestion(&window, dir, prefix + QStringLiteral("ImportQuestion"),
                     "apply.imported.settings.and.exit", "restart.required", Dialogs::Buttons::OkCancel);
    written += saveFileChooser(&window, dir, prefix + QStringLiteral("FileChooser"));
    return written;
}

}  // namespace rszorvik
