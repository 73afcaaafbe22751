#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "config/Config.h"

class QLineEdit;
class QTabWidget;
class QWidget;

namespace rszorvik {

// Checks one free-text setting when the focus tries to leave its field. An acceptable text goes into the
// settings record; an unacceptable one is reported, the field emptied, the focus kept in it and its tab
// page brought back to the front once the report is closed. While the window closes, the refusal is silent.
class FieldValidator : public QObject {
  public:
    enum class Field {
        EveryXValues,
        DecimalPlaces,
        MathOperand,
        EditNumCharacters,
        RemoveCharacters,
        RequestCommand,
        RequestInterval,
        RequestHotKey
    };

    FieldValidator(Field which, QLineEdit* field, config::Config& config, QTabWidget* tabs, QWidget* page,
                   std::function<bool()> isClosing, QObject* parent = nullptr);

    // Whether the field's current text is acceptable; changes nothing.
    bool verify() const;
    // Writes an acceptable text to the record and returns true; otherwise handles the refusal, returns false.
    bool shouldYieldFocus();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::string value() const;  // the field's text as the record would store it

    const Field which;
    QLineEdit* const field;
    config::Config& config;
    QTabWidget* const tabs;
    QWidget* const page;
    const std::function<bool()> isClosing;
    // From a refusal until its tab page is back in front: the focus moves caused meanwhile are ours.
    bool refusing = false;
};

}  // namespace rszorvik
