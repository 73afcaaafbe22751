#include "app/StartUp.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMetaObject>
#include <QPointer>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <iostream>
#include <random>

#include "app/CatalogText.h"
#include "app/Dialogs.h"
#include "app/QtExecutor.h"
#include "app/RevareRiDevFrame2.h"
#include "app/SettingsStorage.h"
#include "app/ToolTips.h"
#include "base/EmbeddedResources.h"
#include "base/Language.h"
#include "base/MessageFormat.h"
#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"
#include "serial/SerialPortLocal.h"
#include "util/FriendlyPortUtil.h"
#include "util/UpdateWorker.h"
#include "worker/OutputRun.h"

namespace rszorvik {

// The update check with the window's status line as its view. The view is part of the task itself, so a
// report that arrives after the window has gone finds a live object that drops it.
class StatusLineUpdateCheck : public util::UpdateWorkerView, public util::UpdateWorker {
  public:
    StatusLineUpdateCheck(RevareRiDevFrame2& window, util::UpdateRequest request)
        : UpdateWorker(QtExecutor::instance(), *this, std::move(request)), target(&window) {}

    void setText(const std::string& text) override {
        if (target) target->setText(text);
    }

  private:
    QPointer<RevareRiDevFrame2> target;
};

namespace {

// Keeps every tooltip of the program up for the same time, however short its text, and wraps it.
class ToolTipDuration : public QObject {
  public:
    static constexpr const char* kName = "zorvikToolTipDuration";
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ToolTip) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->toolTip().isEmpty()) return false;  // views show item tooltips
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), readableToolTip(widget->toolTip()), widget, {},
                           StartUp::kToolTipMillis);
        return true;
    }
};

void error(const QString& text, const QString& title) {
    Dialogs::current().message(nullptr, text, title, Dialogs::Icon::Error);
}

QString fromCatalog(const char* key) {
    return catalogText(key);
}

}  // namespace

std::vector<std::string> discoverSerialPorts() {
    if (!Zivaraze::SerialPortLocal::isLibraryLoaded()) throw NativeModuleMissingError();
    return friendlyPortList();
}

std::vector<std::string> friendlyPortList() {
    using Zivaraze::SerialPortLocal;
    SerialPortLocal::clearPortListInfo();
    std::vector<std::string> shown = SerialPortLocal::getPortList();
    if (shown.empty()) return shown;
    try {
        util::FriendlyPortUtil::update();
    } catch (const std::exception&) {
        return shown;  // no driver records on this platform: plain names
    }
    for (auto& name : shown)
        if (!name.empty()) name = util::FriendlyPortUtil::getFriendlyPortName(name);
    return shown;
}

QPixmap createImageIcon(const std::string& path, const std::string& description) {
    QPixmap image;
    const auto bytes = base::embeddedResource(path);
    if (!bytes || !image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                                      static_cast<uint>(bytes->size()), "PNG")) {
        std::cerr << "Couldn't find file: " << path << '\n';
        return {};
    }
    image.setDevicePixelRatio(1.0);
    (void)description;  // the accessible name of an image; Qt's window icons have none
    return image;
}

QIcon windowIcon() {
    QIcon icon;
    for (const char* file : {"zorvik32.png", "zorvik24.png", "zorvik20.png", "zorvik16.png"}) {
        const QPixmap image = createImageIcon(file, "zorvik");
        if (!image.isNull()) icon.addPixmap(image);
    }
    return icon;
}

StartUp::StartUp(StartUpOptions startOptions) : options(std::move(startOptions)) {
    if (!options.discoverPorts) options.discoverPorts = &discoverSerialPorts;
    if (!options.updateDraw)
        options.updateDraw = [] {
            std::mt19937 random(std::random_device{}());
            return std::uniform_int_distribution<int>(0, 3)(random);
        };
    if (!options.startOutput) options.startOutput = [](RevareRiDevFrame2& window) { window.startOutput(); };
    if (!options.exit) options.exit = [](int status) { QCoreApplication::exit(status); };
}

StartUp::~StartUp() {
    if (updateCheck) updateCheck->cancel(true);
}

std::optional<int> StartUp::run() {
    if (!catalogsComplete()) return kDamagedFilesStatus;
    if (!options.args.empty() && !options.args.front().empty()) commandLinePort = options.args.front();
    if (const auto status = listPorts()) return status;
    loadConfig();
    if (commandLinePort) stored.config.setPort(*commandLinePort);
    loadedConfig = config::Config::copyConfig(stored.config);

    frame = std::make_unique<RevareRiDevFrame2>(stored.config, portList);
    storage = std::make_unique<SettingsStorage>(stored, loadedConfig, options.settingsFile, portList);
    frame->attachStorage(*storage, options.exit);
    frame->setDemo(worker::OutputRun::demoRequested());
    maybeCheckForUpdates();
    frame->setWindowIcon(windowIcon());
    frame->show();
    if (qApp->findChild<QObject*>(ToolTipDuration::kName, Qt::FindDirectChildrenOnly) == nullptr) {
        auto* duration = new ToolTipDuration(qApp);
        duration->setObjectName(ToolTipDuration::kName);
        qApp->installEventFilter(duration);
    }
    // The record now holds what the controls show: above all the port the window will open, which the
    // automatic start compares with the previous one (a stored port that is gone is not what it opens).
    frame->updateConfigFromTabs();
    if (stored.config.minimizeToTray) frame->addMinimizeToTraySupport();
    autoStart();
    return std::nullopt;
}

bool StartUp::catalogsComplete() {
    const auto missing = missingCatalogKeys(options.requiredKeys);
    if (missing.empty()) return true;
    for (const auto& key : missing)
        std::cerr << "zorvik: missing text " << key << '\n';
    // Fixed texts: the catalogues themselves are what is broken.
    error(QStringLiteral("Program files seem to be damaged or missing!\nTry downloading and reinstalling "
                         "the program."),
          QStringLiteral("Fatal error"));
    return false;
}

std::optional<int> StartUp::listPorts() {
    if (commandLinePort) {
        portList = {*commandLinePort};
        return std::nullopt;
    }
    try {
        portList = options.discoverPorts();
    } catch (const NativeModuleMissingError&) {
        QString text = fromCatalog("library.zspwin.not.found.or.not.matching.your.system");
        // The system it runs on, which is what the operator and support need to know.
        const std::string platform = Zivaraze::runningPlatform().shown();
        if (!platform.empty()) text += QStringLiteral(" (%1)").arg(QString::fromStdString(platform));
        error(text + fromCatalog("program.will.now.exit"), fromCatalog("fatal.error"));
        return kNoNativeModuleStatus;
    } catch (const std::exception& e) {
        error(fromCatalog("error.listing.available.ports") + QString::fromStdString(e.what()),
              fromCatalog("error"));
        portList.clear();
        return std::nullopt;
    }
    const auto absent = std::remove(portList.begin(), portList.end(), std::string());
    if (absent != portList.end()) {
        portList.erase(absent, portList.end());
        error(fromCatalog("error.listing.available.ports"), fromCatalog("error"));
    }
    if (portList.empty())
        error(fromCatalog("no.rs.232.port.found.on.your.system.program.will.now.exit"), fromCatalog("error"));
    return std::nullopt;
}

void StartUp::loadConfig() {
    try {
        stored = prefs::openStoredSettings(options.settingsFile, portList);
    } catch (const std::exception& e) {
        // Defaults for this run; an unreadable file stays as it is until the user saves.
        std::cerr << "zorvik: " << e.what() << '\n';
        stored = {};
        if (const auto* unreadable = dynamic_cast<const prefs::UnreadableSettingsException*>(&e))
            stored.file = unreadable->file();
        stored.config = prefs::defaultConfig(portList);
        error(fromCatalog("access.error.while.loading.settings") + "\n\n" + QString::fromStdString(e.what()),
              fromCatalog("error.while.loading.settings"));
        return;
    }
    if (!stored.loadedClean) {
        QString text = fromCatalog("invalid.setting");
        for (const auto& repair : stored.repairs)
            text += QStringLiteral("\n%1 = %2")
                        .arg(QString::fromStdString(repair.key), QString::fromStdString(repair.stored));
        error(text, fromCatalog("error.while.loading.settings"));
    }
}

void StartUp::maybeCheckForUpdates() {
    if (!stored.config.checkForUpdates || options.updateDraw() != 0) return;
    const char* language = base::processLanguage() == base::Language::English ? "en" : "de";
    updateCheck = std::make_shared<StatusLineUpdateCheck>(
        *frame,
        util::UpdateRequest::fromEnvironment(
            base::SystemProperties::get("VERSION", base::SystemProperties::programVersion()), language));
    updateCheck->execute();
}

void StartUp::autoStart() {
    if (stored.config.getConnect() != config::Config::Connect::AUTO) return;
    const auto& previous = stored.config.getPrevPort();
    if (stored.config.abortAutoStartWhenPrevPortNotAvailable && !commandLinePort &&
        stored.config.getPort() != previous.value_or(std::string())) {
        const std::string pattern =
            catalogText("previously.used.port.0.no.longer.available.naborting.auto.start").toStdString();
        error(QString::fromStdString(base::formatMessage(pattern, {previous.value_or(std::string())})),
              fromCatalog("error"));
        return;
    }
    options.startOutput(*frame);
    autoStarted = true;
    if (stored.config.minimizeToTray) frame->showMinimized();
}

}  // namespace rszorvik
