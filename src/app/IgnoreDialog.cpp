#include "app/IgnoreDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/CatalogText.h"
#include "app/Dialogs.h"
#include "config/ConfigHelper.h"

namespace rszorvik {

namespace {

QLineEdit* textField(const char* name, const QString& text, const char* toolTipKey, QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    field->setObjectName(QString::fromUtf8(name));
    field->setToolTip(catalogText(toolTipKey));
    // Wide enough for a ten-digit limit or tolerance.
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 16);
    return field;
}

QLabel* label(const char* name, const QString& text, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setObjectName(QString::fromUtf8(name));
    return result;
}

}  // namespace

IgnoreDialog::IgnoreDialog(QWidget* owner, const config::Config& config)
    : QDialog(owner),
      ignoreTimeLimit(QString::fromStdString(config.getIgnoreTimeLimit())),
      ignoreDifference(QString::fromStdString(config.getIgnoreDifference())) {
    setObjectName(QStringLiteral("IgnoreDialog"));
    setWindowTitle(catalogText("IgnoreDialog.this.title"));
    setModal(true);

    auto* dialogPane = new QWidget(this);
    dialogPane->setObjectName(QStringLiteral("dialogPane"));
    auto* contentPanel = new QWidget(dialogPane);
    contentPanel->setObjectName(QStringLiteral("contentPanel"));

    ignoreTimeLimitTextField = textField("ignoreTimeLimitTextField", ignoreTimeLimit,
                                         "IgnoreDialog.ignoreTimeLimitTextField.toolTipText", contentPanel);
    ignoreDifferenceTextField = textField("ignoreDifferenceTextField", ignoreDifference,
                                          "IgnoreDialog.ignoreDifferenceTextField.toolTipText", contentPanel);
    auto* label1 = label("label1", catalogText("IgnoreDialog.label2.text"), contentPanel);
    auto* label3 = label("label3", QStringLiteral("ms"), contentPanel);
    auto* label4 = label("label4", catalogText("IgnoreDialog.label3.text"), contentPanel);
    label1->setBuddy(ignoreTimeLimitTextField);
    label4->setBuddy(ignoreDifferenceTextField);

    auto* grid = new QGridLayout(contentPanel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(label1, 0, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(ignoreTimeLimitTextField, 0, 1);
    grid->addWidget(label3, 0, 2);
    grid->addWidget(label4, 1, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(ignoreDifferenceTextField, 1, 1);
    grid->setColumnStretch(1, 1);

    auto* buttonBar = new QDialogButtonBox(dialogPane);
    buttonBar->setObjectName(QStringLiteral("buttonBar"));
    auto* okButton = buttonBar->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    okButton->setObjectName(QStringLiteral("okButton"));
    auto* cancelButton =
        buttonBar->addButton(catalogText("IgnoreDialog.cancelButton.text"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(okButton, &QPushButton::clicked, this, &IgnoreDialog::okButtonActionPerformed);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* pane = new QVBoxLayout(dialogPane);
    pane->addWidget(contentPanel);
    pane->addStretch(1);
    pane->addWidget(buttonBar);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(dialogPane);
}

void IgnoreDialog::okButtonActionPerformed() {
    namespace CH = config::ConfigHelper;
    const QString timeLimit = ignoreTimeLimitTextField->text();
    // A decimal comma is accepted on input; the record holds a point.
    const QString difference =
        QString(ignoreDifferenceTextField->text()).replace(QLatin1Char(','), QLatin1Char('.'));
    if (!CH::IgnoreTimeLimit::valid(timeLimit.toStdString()) ||
        !CH::IgnoreDifference::valid(difference.toStdString())) {
        Dialogs::current().message(this, catalogText("ignore.error"), catalogText("error"),
                                   Dialogs::Icon::Error);
        return;
    }
    ignoreTimeLimit = timeLimit;
    ignoreDifference = difference;
    accept();
}

}  // namespace rszorvik
