#include "app/RevareRiDev.h"

#include <QApplication>
#include <QDialog>
#include <QLocale>
#include <QMetaObject>
#include <QWidget>
#include <QtGlobal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Dialogs.h"
#include "app/ProcessEnd.h"
#include "app/QtTranslations.h"
#include "app/RevareRiDevFrame2.h"
#include "app/Screenshots.h"
#include "app/StartUp.h"
#include "app/WindowCommandLine.h"
#include "base/Language.h"
#include "base/MessageFormat.h"
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

QtMessageHandler previousHandler = nullptr;

// While the application object starts, a fatal message means that Qt found no platform to show the window
// on (no display): Qt's own words say which, then this program says what it means, and ends with its own
// status instead of an abort.
void failWithoutDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (previousHandler != nullptr)
            previousHandler(type, context, message);
        else
            std::cerr << qFormatLogMessage(type, context, message).toStdString() << std::endl;
        return;
    }
    const char* display = std::getenv("DISPLAY");
    std::cerr << base::formatMessage(WindowCommandLine::text("commandline.no.display"),
                                     {display != nullptr && *display != '\0' ? display : "-"})
              << std::endl;
    std::_Exit(RevareRiDev::kNoDisplayStatus);
}

bool unattended() {
    const char* value = std::getenv("ZORVIK_UNATTENDED");
    return value != nullptr && std::string(value) == "1";
}

}  // namespace

void RevareRiDev::setProcessProperties() {
    base::SystemProperties::setProgramProperties();
}

int RevareRiDev::main(int argc, char** argv) {
    setProcessProperties();
    // Before the application object: that needs a display, and help, version and a refused command line
    // must work without one.
    const WindowCommandLine commandLine = WindowCommandLine::parse(argc, argv);
    // Before the help or any window text is read: the catalogues keep the language they were loaded in.
    if (commandLine.languageGiven)
        base::chooseProcessLanguage(commandLine.language == "en" ? base::Language::English
                                                                 : base::Language::German);
    switch (commandLine.action) {
        case WindowCommandLine::Action::Help:
            std::cout << WindowCommandLine::help() << std::flush;
            return 0;
        case WindowCommandLine::Action::Version:
            std::cout << "zorvik " << base::SystemProperties::get("VERSION", "") << std::endl;
            return 0;
        case WindowCommandLine::Action::Refused:
            std::cerr << base::formatMessage(WindowCommandLine::text("commandline.refused"),
                                             {commandLine.refusal})
                      << std::endl;
            return WindowCommandLine::kRefusedStatus;
        case WindowCommandLine::Action::Window:
        case WindowCommandLine::Action::Screenshots:
            break;
    }

    // Dates and numbers the window formats follow the language of its texts.
    QLocale::setDefault(base::processLanguage() == base::Language::English
                            ? QLocale(QLocale::English, QLocale::UnitedStates)
                            : QLocale(QLocale::German, QLocale::Germany));

    ProcessEnd processEnd;  // before any thread starts
    std::vector<std::string> toolkitArguments = commandLine.toolkitArguments;
    std::vector<char*> toolkitArgv;
    for (auto& argument : toolkitArguments)
        toolkitArgv.push_back(argument.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitArguments.size());
    const QtMessageHandler previous = qInstallMessageHandler(&failWithoutDisplay);
    previousHandler = previous;
    QApplication app(toolkitArgc, toolkitArgv.data());
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("zorvik"));
    QApplication::setOrganizationName(QStringLiteral("Vexlune"));
    useQtTranslations(texts::language());

    if (commandLine.action == WindowCommandLine::Action::Screenshots) {
        return renderScreenshots(QString::fromStdString(commandLine.screenshotDir), texts::language()) > 0
                   ? 0
                   : 1;
    }

    UnattendedDialogs unattendedDialogs;
    if (unattended()) Dialogs::install(&unattendedDialogs);

    StartUpOptions options;
    if (commandLine.port) options.args.push_back(*commandLine.port);
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
