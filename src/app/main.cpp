#include <QApplication>
#include <QCommandLineParser>
#include <iostream>
#include <string>
#include <vector>

#include "app/CatalogText.h"
#include "app/Dialogs.h"
#include "app/RevareRiDevFrame2.h"
#include "app/Screenshots.h"
#include "base/SystemProperties.h"
#include "prefs/SettingsStore.h"

// Qt's D-Bus connection keeps a buffer to the end of the process; a sanitizer build must not call it a leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

// The ports as the port chooser shows them: the friendly name where the driver is known.
std::vector<std::string> listPorts() {
    try {
        return rszorvik::RevareRiDevFrame2::discoverPorts();
    } catch (const std::exception& e) {
        std::cerr << "zorvik: cannot list the serial ports: " << e.what() << '\n';
        return {};
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The process properties the program sets at start-up, as zorvik-cli does.
    rszorvik::base::SystemProperties::set("VERSION", "2020.1.0.0");
    rszorvik::base::SystemProperties::set("ZSP_OSNAME", "Windows");
    rszorvik::base::SystemProperties::set("ZSP_OSARCH", "x86");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zorvik"));
    QApplication::setOrganizationName(QStringLiteral("Vexlune"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Render every tab and dialog to PNG files in DIR and exit."), QStringLiteral("DIR"));
    const QCommandLineOption language(QStringLiteral("language"),
                                      QStringLiteral("Language of the pictures: de (default) or en."),
                                      QStringLiteral("LANG"), QStringLiteral("de"));
    parser.addOption(screenshot);
    parser.addOption(language);
    parser.addPositionalArgument(QStringLiteral("port"),
                                 QStringLiteral("Serial port to use instead of discovery."),
                                 QStringLiteral("[port]"));
    parser.process(app);

    if (parser.isSet(screenshot)) {
        const QString lang = parser.value(language);
        if (lang != QStringLiteral("de") && lang != QStringLiteral("en")) {
            std::cerr << "zorvik: --language takes de or en\n";
            return 2;
        }
        const auto chosen = lang == QStringLiteral("en") ? rszorvik::texts::Language::English
                                                         : rszorvik::texts::Language::German;
        return rszorvik::renderScreenshots(parser.value(screenshot), chosen) > 0 ? 0 : 1;
    }

    const QStringList positional = parser.positionalArguments();
    std::vector<std::string> ports;
    if (!positional.isEmpty() && !positional.front().isEmpty()) {
        ports.push_back(positional.front().toStdString());
    } else {
        ports = listPorts();
    }

    rszorvik::prefs::StoredSettings stored;
    try {
        stored = rszorvik::prefs::openStoredSettings({}, ports);
    } catch (const rszorvik::prefs::UnreadableSettingsException& e) {
        // The window starts with the defaults and says so; the file itself stays as it is.
        std::cerr << "zorvik: " << e.what() << '\n';
        rszorvik::Dialogs::current().message(nullptr,
                                             rszorvik::catalogText("access.error.while.loading.settings") +
                                                 "\n\n" + QString::fromStdString(e.what()),
                                             rszorvik::catalogText("error"),
                                             rszorvik::Dialogs::Icon::Warning);
        stored.config = rszorvik::prefs::defaultConfig(ports);
    } catch (const std::exception& e) {
        std::cerr << "zorvik: cannot open the settings: " << e.what() << '\n';
        return 1;
    }
    if (!positional.isEmpty() && !positional.front().isEmpty()) stored.config.setPort(ports.front());

    rszorvik::RevareRiDevFrame2 window(stored.config, ports);
    window.show();
    if (stored.config.minimizeToTray) window.addMinimizeToTraySupport();
    return QApplication::exec();
}
