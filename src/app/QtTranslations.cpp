#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <iostream>
#include <memory>
#include <string>

#include "app/CatalogText.h"
#include "base/MessageFormat.h"

namespace rszorvik {

void useQtTranslations(texts::Language language) {
    static QTranslator* installed = nullptr;
    if (installed != nullptr) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (language == texts::Language::English) return;

    auto translator = std::make_unique<QTranslator>();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // qt_de is Qt's catalogue of catalogues: it pulls in qtbase_de and the other modules' texts.
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qt"),
                          QStringLiteral("_"), folder)) {
        const std::string pattern = catalogText("qt.translations.missing").toStdString();
        std::cerr << "zorvik: " << base::formatMessage(pattern, {folder.toStdString()}) << '\n';
        return;
    }
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
}

}  // namespace rszorvik
