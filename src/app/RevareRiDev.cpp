#include "app/RevareRiDev.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QLocale>
#include <QMetaObject>
#include <QWidget>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/ProcessEnd.h"
#include "app/RevareRiDevFrame2.h"
#include "app/Screenshots.h"
#include "app/StartUp.h"
#include "base/Language.h"
#include "base/SystemProperties.h"

namespace rszorvik {

namespace {

// With ZORVIK_UNATTENDED=1 nobody is there to answer: every dialog writes its title and text to standard
// error, questions are answered No or Cancel, choosers and the window's own dialogs are cancelled. Scripts
// and tests see what a person would have been told, and the program never waits for a click.
class UnattendedDialogs : public Dialogs {
  public:
    void message(QWidget*, const QString& text, const QString& title, Icon) override { show(title, text); }
    bool ask(QWidget*, const QString& text, const QString& title, Buttons, Icon) override {
        show(title, text);
        return false;
    }
    QString chooseSaveFile(QWidget*, const QString& title, const QString&) override {
        show(title, {});
        return {};
    }
    QString chooseOpenFile(QWidget*, const QString& title) override {
        show(title, {});
        return {};
    }
    int exec(QDialog& dialog) override {
        show(dialog.windowTitle(), {});
        return QDialog::Rejected;
    }

  private:
    static void show(const QString& title, const QString& text) {
        std::cerr << "zorvik: [" << title.toStdString() << "] " << text.toStdString() << std::endl;
    }
};

bool unattended() {
    const char* value = std::getenv("ZORVIK_UNATTENDED");
    return value != nullptr && std::string(value) == "1";
}

}  // namespace

void RevareRiDev::setProcessProperties() {
    base::SystemProperties::setProgramProperties();
}

int RevareRiDev::main(int argc, char** argv) {
    // Dates and numbers the window formats follow the language of its texts.
    QLocale::setDefault(base::processLanguage() == base::Language::English
                            ? QLocale(QLocale::English, QLocale::UnitedStates)
                            : QLocale(QLocale::German, QLocale::Germany));
    setProcessProperties();

    ProcessEnd processEnd;  // before any thread starts
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
        const auto chosen = lang == QStringLiteral("en") ? texts::Language::English : texts::Language::German;
        return renderScreenshots(parser.value(screenshot), chosen) > 0 ? 0 : 1;
    }

    UnattendedDialogs unattendedDialogs;
    if (unattended()) Dialogs::install(&unattendedDialogs);

    StartUpOptions options;
    for (const QString& argument : parser.positionalArguments())
        options.args.push_back(argument.toStdString());
    StartUp startUp(std::move(options));
    // A stop signal during the start closes the dialog it waits on, then the window once it is up.
    bool closeWhenShown = false;
    processEnd.watch(
        [&] {
            if (auto* window = startUp.window()) {
                window->close();
            } else {
                closeWhenShown = true;
                if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
            }
        },
        [&] {
            if (auto* window = startUp.window()) window->endForLostDisplay();
        });
    if (const auto status = startUp.run()) return *status;
    if (closeWhenShown)
        QMetaObject::invokeMethod(
            startUp.window(), [window = startUp.window()] { window->close(); }, Qt::QueuedConnection);
    const int status = QApplication::exec();
    Dialogs::install(nullptr);
    return status;
}

}  // namespace rszorvik
