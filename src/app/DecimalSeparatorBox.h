#pragma once

#include <QComboBox>

#include "config/Config.h"

namespace rszorvik {

// The decimal separator choice. It follows the record's preset: a number preset enables it, a text preset
// (a barcode reader, whose values are not formatted) greys it out.
class DecimalSeparatorBox : public QComboBox {
  public:
    DecimalSeparatorBox(config::Config& config, QWidget* parent = nullptr);
    ~DecimalSeparatorBox() override;
    DecimalSeparatorBox(const DecimalSeparatorBox&) = delete;
    DecimalSeparatorBox& operator=(const DecimalSeparatorBox&) = delete;

  private:
    void propertyChange(const config::PropertyChangeEvent& event);

    config::Config& config;
    config::ListenerId listener;
};

}  // namespace rszorvik
