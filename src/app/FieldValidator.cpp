#include "app/FieldValidator.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <utility>

#include "app/CatalogText.h"
#include "app/Dialogs.h"
#include "config/ConfigHelper.h"

namespace rszorvik {

namespace {

namespace CH = config::ConfigHelper;

struct Rule {
    bool (*valid)(std::string_view);
    void (config::Config::*write)(std::string);
    const char* errorKey;
};

const Rule& ruleFor(FieldValidator::Field which) {
    using F = FieldValidator::Field;
    using C = config::Config;
    static const Rule everyX{&CH::EveryXValues::valid, &C::setEveryXValues, "error.edit.everyXValues"};
    static const Rule decimals{&CH::DecimalPlaces::valid, &C::setDecimalPlaces, "error.decimal.places"};
    static const Rule operand{&CH::MathOperand::valid, &C::setMathOperand, "error.math.operand"};
    static const Rule numChars{&CH::EditNumCharacters::valid, &C::setEditNumCharacters,
                               "error.edit.numCharacters"};
    static const Rule remove{&CH::RemoveCharacters::valid, &C::setRemoveCharacters,
                             "error.edit.removeCharacters"};
    static const Rule requestCommand{&CH::RequestCommand::valid, &C::setRequestCommand,
                                     "error.request.command"};
    static const Rule requestInterval{&CH::RequestInterval::valid, &C::setRequestInterval,
                                      "error.request.interval"};
    static const Rule requestHotKey{&CH::RequestHotKey::valid, &C::setRequestHotKey, "error.request.hotkey"};
    switch (which) {
        case F::EveryXValues:
            return everyX;
        case F::DecimalPlaces:
            return decimals;
        case F::MathOperand:
            return operand;
        case F::EditNumCharacters:
            return numChars;
        case F::RequestCommand:
            return requestCommand;
        case F::RequestInterval:
            return requestInterval;
        case F::RequestHotKey:
            return requestHotKey;
        case F::RemoveCharacters:
            break;
    }
    return remove;
}

}  // namespace

FieldValidator::FieldValidator(Field which, QLineEdit* field, config::Config& config, QTabWidget* tabs,
                               QWidget* page, std::function<bool()> isClosing, QObject* parent)
    : QObject(parent),
      which(which),
      field(field),
      config(config),
      tabs(tabs),
      page(page),
      isClosing(std::move(isClosing)) {
    field->installEventFilter(this);
}

std::string FieldValidator::value() const {
    QString text = field->text();
    // A decimal comma is accepted on input; the record holds a point.
    if (which == Field::MathOperand) text.replace(QLatin1Char(','), QLatin1Char('.'));
    return text.toStdString();
}

bool FieldValidator::verify() const {
    return ruleFor(which).valid(value());
}

bool FieldValidator::shouldYieldFocus() {
    const Rule& rule = ruleFor(which);
    const std::string text = value();
    if (rule.valid(text)) {
        (config.*rule.write)(text);
        return true;
    }
    if (isClosing()) return false;

    refusing = true;
    Dialogs::current().message(field->window(), catalogText(rule.errorKey), catalogText("error"),
                               Dialogs::Icon::Error);
    field->clear();
    field->setFocus(Qt::OtherFocusReason);
    // Queued, so the page comes to the front after the report and after whatever tab switch took the focus.
    QMetaObject::invokeMethod(
        this,
        [this, tabs = QPointer<QTabWidget>(tabs), page = QPointer<QWidget>(page),
         field = QPointer<QLineEdit>(field)] {
            if (tabs && page) tabs->setCurrentWidget(page);
            if (field) field->setFocus(Qt::OtherFocusReason);
            refusing = false;
        },
        Qt::QueuedConnection);
    return false;
}

bool FieldValidator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field && event->type() == QEvent::FocusOut && !refusing) {
        // Another application or a popup taking the focus does not leave the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) shouldYieldFocus();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace rszorvik
