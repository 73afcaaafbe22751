#include "app/CustomRegExDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "app/CatalogText.h"
#include "app/Dialogs.h"
#include "app/FixedPitchFont.h"
#include "base/MessageFormat.h"
#include "base/Utf8.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"
#include "prefs/Preferences.h"

namespace rszorvik {

namespace {

QLabel* explanation(const char* name, const char* key, QWidget* parent) {
    auto* label = new QLabel(catalogText(key), parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setWordWrap(true);
    return label;
}

}  // namespace

CustomRegExDialog::CustomRegExDialog(QWidget* owner, QString regEx)
    : QDialog(owner), regEx(std::move(regEx)) {
    setObjectName(QStringLiteral("CustomRegExDialog"));
    setWindowTitle(catalogText("CustomRegExDialog.this.title"));
    setModal(true);

    auto* dialogPane = new QWidget(this);
    dialogPane->setObjectName(QStringLiteral("dialogPane"));
    auto* contentPanel = new QWidget(dialogPane);
    contentPanel->setObjectName(QStringLiteral("contentPanel"));

    regExTextArea = new QPlainTextEdit(this->regEx, contentPanel);
    regExTextArea->setObjectName(QStringLiteral("regExTextArea"));
    regExTextArea->setFont(fixedPitchFont());
    // Room for a typical expression without scrolling: about 60 characters on 4 lines.
    const QFontMetrics metrics(regExTextArea->font());
    regExTextArea->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * 60,
                                  metrics.lineSpacing() * 5);

    auto* content = new QVBoxLayout(contentPanel);
    content->setContentsMargins(0, 0, 0, 0);
    content->addWidget(explanation("label2", "CustomRegExDialog.label2.text", contentPanel));
    content->addWidget(regExTextArea, 1);
    content->addWidget(explanation("label3", "CustomRegExDialog.label3.text", contentPanel));
    // The example on a line of its own, where wrapping cannot cut the expression apart, and selectable
    // for copying.
    auto* example = new QLabel(
        QString::fromUtf8(config::ConfigHelper::Instrument::kBasePattern.data(),
                          static_cast<qsizetype>(config::ConfigHelper::Instrument::kBasePattern.size())),
        contentPanel);
    example->setObjectName(QStringLiteral("exampleLabel"));
    example->setFont(fixedPitchFont());
    example->setTextFormat(Qt::PlainText);
    example->setTextInteractionFlags(Qt::TextSelectableByMouse);
    example->setContentsMargins(metrics.horizontalAdvance(QLatin1Char('x')) * 2, 0, 0, 0);
    content->addWidget(example);
    content->addWidget(explanation("label4", "CustomRegExDialog.label4.text", contentPanel));

    auto* buttonBar = new QDialogButtonBox(dialogPane);
    buttonBar->setObjectName(QStringLiteral("buttonBar"));
    auto* okButton = buttonBar->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    okButton->setObjectName(QStringLiteral("okButton"));
    auto* cancelButton = buttonBar->addButton(catalogText("CustomRegExDialog.cancelButton.text"),
                                              QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(okButton, &QPushButton::clicked, this, &CustomRegExDialog::okButtonActionPerformed);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* pane = new QVBoxLayout(dialogPane);
    pane->addWidget(contentPanel, 1);
    pane->addWidget(buttonBar);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(dialogPane);
}

void CustomRegExDialog::okButtonActionPerformed() {
    const QString text = regExTextArea->toPlainText();
    const std::string expression = text.toStdString();
    // Refused here, where it can still be shortened: the settings file would not keep it.
    if (base::utf8::countLeadBytes(expression) > prefs::Preferences::MAX_VALUE_LENGTH) {
        const std::string pattern = catalogText("expression.too.long").toStdString();
        Dialogs::current().message(this,
                                   QString::fromStdString(base::formatMessage(
                                       pattern, {std::to_string(prefs::Preferences::MAX_VALUE_LENGTH)})),
                                   catalogText("error"), Dialogs::Icon::Error);
        return;
    }
    if (!prefs::Preferences::isValidValue(expression) ||
        !config::ConfigHelper::CustomRegEx::valid(expression)) {
        Dialogs::current().message(this, catalogText("invalid.expression"), catalogText("error"),
                                   Dialogs::Icon::Error);
        return;
    }
    regEx = text;
    accept();
}

}  // namespace rszorvik
