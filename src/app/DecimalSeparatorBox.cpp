#include "app/DecimalSeparatorBox.h"

#include "app/Texts.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"

namespace rszorvik {

using config::ConfigHelper::DecimalSeparator;
using config::ConfigHelper::InstrumentType;

DecimalSeparatorBox::DecimalSeparatorBox(config::Config& config, QWidget* parent)
    : QComboBox(parent), config(config) {
    setObjectName(QStringLiteral("decimalSeparatorBox"));
    for (DecimalSeparator separator : DecimalSeparator::values())
        addItem(texts::label(separator));
    setCurrentIndex(config.getDecimalSeparator().ordinal());
    // The record only tells of later preset changes; a stored text preset greys the box out from the start.
    if (const auto instrument = config.getInstrument())
        setEnabled(instrument->getInstrumentType() == InstrumentType::NUMBER);
    listener =
        config.addPropertyChangeListener([this](const config::PropertyChangeEvent& e) { propertyChange(e); });
}

DecimalSeparatorBox::~DecimalSeparatorBox() {
    config.removePropertyChangeListener(listener);
}

void DecimalSeparatorBox::propertyChange(const config::PropertyChangeEvent& event) {
    if (event.propertyName == "NUMBER")
        setEnabled(true);
    else if (event.propertyName == "TEXT")
        setEnabled(false);
}

}  // namespace rszorvik
