#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/ConfigHelper.h"

namespace rszorvik::config {

class Config;

namespace detail {

struct InstrumentConstants {
    enum class Value : std::uint8_t {
        GENERIC,
        BARCODE,
        BARCODE_ALPHA,
        BARCODE_ALPHA_COMPLETE,
        AND,
        AND_SIMPLE,
        AND_EM,
        ADAM_AZEXTRA_WEIGHT,
        ADAM_CBK,
        ADAM_CPWPLUS,
        ADAM_GC_WEIGHT,
        ADAM_GC_PCS,
        ADAM_HCB,
        ADAM_LABEL,
        DENVER,
        KERND_440E,
        KERN_572,
        KERN_573,
        KERND_DE,
        KERN_DS,
        KERN_FKB,
        KERN_KB_N,
        KERN_KFB,
        KERN_MPS,
        KERN_RPB,
        KEYENCE_IL,
        MARS,
        METTLER_SICS,
        METTLER_DIALOG,
        METTLER_PRINT,
        MITUTOYO,
        MITUTOYO_LSM_6200,
        MYWEIGH_HD,
        OHAUS,
        OHAUSSPU,
        PRECISA,
        RADWAG,
        SARTORIUS,
        SARTORIUS_SBI,
        SARTORIUS_SICS,
        SMA_SCP,
        SCHLAGE_HANDPUNCH,
        TANITA_TL280,
        WEDDERBURN
    };
    using enum Value;
    static constexpr std::string_view kTypeName = "Instrument";
    static constexpr std::array<std::string_view, 44> kNames{"GENERIC",
                                                             "BARCODE",
                                                             "BARCODE_ALPHA",
                                                             "BARCODE_ALPHA_COMPLETE",
                                                             "AND",
                                                             "AND_SIMPLE",
                                                             "AND_EM",
                                                             "ADAM_AZEXTRA_WEIGHT",
                                                             "ADAM_CBK",
                                                             "ADAM_CPWPLUS",
                                                             "ADAM_GC_WEIGHT",
                                                             "ADAM_GC_PCS",
                                                             "ADAM_HCB",
                                                             "ADAM_LABEL",
                                                             "DENVER",
                                                             "KERND_440E",
                                                             "KERN_572",
                                                             "KERN_573",
                                                             "KERND_DE",
                                                             "KERN_DS",
                                                             "KERN_FKB",
                                                             "KERN_KB_N",
                                                             "KERN_KFB",
                                                             "KERN_MPS",
                                                             "KERN_RPB",
                                                             "KEYENCE_IL",
                                                             "MARS",
                                                             "METTLER_SICS",
                                                             "METTLER_DIALOG",
                                                             "METTLER_PRINT",
                                                             "MITUTOYO",
                                                             "MITUTOYO_LSM_6200",
                                                             "MYWEIGH_HD",
                                                             "OHAUS",
                                                             "OHAUSSPU",
                                                             "PRECISA",
                                                             "RADWAG",
                                                             "SARTORIUS",
                                                             "SARTORIUS_SBI",
                                                             "SARTORIUS_SICS",
                                                             "SMA_SCP",
                                                             "SCHLAGE_HANDPUNCH",
                                                             "TANITA_TL280",
                                                             "WEDDERBURN"};
    static constexpr Value kDefault = GENERIC;
};

}  // namespace detail

namespace ConfigHelper {

// An instrument preset: how to read one kind of instrument. All preset data lives in one table.
class Instrument : public detail::EnumConstant<Instrument, detail::InstrumentConstants> {
  public:
    using EnumConstant::EnumConstant;

    // (input line, expected capture-group text; empty = the line yields no value)
    using TestStrings = std::vector<std::pair<std::string, std::string>>;

    // The number expression most presets use.
    static constexpr std::string_view kBasePattern = "([-+]?\\s*[0-9]*[\\.,]?[0-9]+)";

    const std::string& label() const;                     // resolved from the catalogue once
    std::optional<std::string_view> getLabelKey() const;  // catalogue key of the label; none when literal
    std::string toPlainString() const { return label(); }
    // TEXT presets are wrapped as italic HTML so that lists show them apart.
    std::string toString() const;

    std::string_view getPattern() const;
    int getCaptureGroup() const;
    InstrumentType getInstrumentType() const;
    KeyMapType getKeyMapType() const;
    // The bytes that ask the instrument for a reading (sent by the request button, hot key and timer);
    // empty where its manual gives none.
    std::string_view getDataCommand() const;
    std::optional<std::string_view> getDefaultMessageKey() const;
    std::optional<std::string> getDefaultMessage() const;  // catalogue text of the message key
    // A new record with the preset's serial settings; everything else at construction defaults.
    Config getDefaultConfig() const;
    TestStrings getTestStrings() const;
};

}  // namespace ConfigHelper
}  // namespace rszorvik::config
