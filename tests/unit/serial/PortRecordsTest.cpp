#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "native/PortRecords.h"

using zsp::PortRecord;
using zsp::RawDevice;
using zsp::RawValue;

namespace {

using namespace std::literals;

// A string value as the registry and SetupDi hand it out: UTF-16LE, normally with its terminator (REG_SZ),
// a multi-string with two; some drivers store none.
RawValue text(std::u16string_view value, std::uint32_t type = zsp::kRegSz, int terminators = 1) {
    RawValue raw{type, {}};
    for (char16_t unit : value) {
        raw.bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        raw.bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    raw.bytes.insert(raw.bytes.end(), 2 * static_cast<std::size_t>(terminators), 0);
    return raw;
}

struct DeviceCase {
    const char* name;
    RawDevice device;
    std::optional<PortRecord> expected;
};

// The properties of devices of the ports class as Windows describes them: what Device Manager shows for
// common adapters and built-in ports, and the irregular buffers drivers leave.
TEST(PortRecordsTest, DevicePropertiesBecomeRecordsOfComPortsOnly) {
    const DeviceCase cases[] = {
        {"Ftdi",
         {text(u"USB Serial Port (COM3)"), text(u"USB Serial Port"), text(u"FTDI"), text(u"COM3")},
         PortRecord{"COM3", "FTDI", "USB Serial Port"}},
        {"BuiltInPort",
         {text(u"Communications Port (COM1)"), text(u"Communications Port"), text(u"(Standard port types)"),
          text(u"COM1")},
         PortRecord{"COM1", "(Standard port types)", "Communications Port"}},
        {"PrinterPortOfTheSameClass",
         {text(u"ECP Printer Port (LPT1)"), text(u"ECP Printer Port"), text(u"(Standard port types)"),
          text(u"LPT1")},
         std::nullopt},
        {"NoTerminatorAndTwoDigits",
         {text(u"Prolific USB-to-Serial Comm Port (COM12)", zsp::kRegSz, 0),
          text(u"Prolific USB-to-Serial Comm Port", zsp::kRegSz, 0), text(u"Prolific", zsp::kRegSz, 0),
          text(u"COM12", zsp::kRegSz, 0)},
         PortRecord{"COM12", "Prolific", "Prolific USB-to-Serial Comm Port"}},
        {"MultiStringAndOddLength",
         [] {
             RawDevice d{text(u"USB Serial Device (COM5)"),
                         text(u"USB Serial Device\0CDC"sv, zsp::kRegMultiSz, 2), text(u"Microsoft"),
                         text(u"COM5")};
             d.manufacturer->bytes.push_back(0x41);  // a stray last byte
             return d;
         }(),
         PortRecord{"COM5", "Microsoft", "USB Serial Device"}},
        {"IndirectDescriptionOfADriverPackage",
         {text(u"USB Serial Port (COM4)"), text(u"@oem12.inf,%ftdi.portdesc%;USB Serial Port"), text(u"FTDI"),
          text(u"COM4")},
         PortRecord{"COM4", "FTDI", "USB Serial Port"}},
        {"PortNameOnlyInTheFriendlyName",
         {text(u"Standard Serial over Bluetooth link (COM6)"), std::nullopt, text(u"Microsoft"),
          std::nullopt},
         PortRecord{"COM6", "Microsoft", "Standard Serial over Bluetooth link"}},
        {"NonAsciiNames",
         {text(u"Serielle Schnittstelle f\u00fcr \u00dcbertragung (COM8)"),
          text(u"Serielle Schnittstelle f\u00fcr \u00dcbertragung"), text(u"M\u00fcller \u2116 \U0001F50C"),
          text(u"com8")},
         PortRecord{"COM8", "M\u00fcller \u2116 \U0001F50C",
                    "Serielle Schnittstelle f\u00fcr \u00dcbertragung"}},
        {"NothingButThePortName",
         {std::nullopt, std::nullopt, std::nullopt, text(u"COM9")},
         PortRecord{"COM9", "COM9", "COM9"}},
        {"NumberNotAPort", {text(u"Port (COM0)"), std::nullopt, std::nullopt, text(u"COM0")}, std::nullopt},
        {"BinaryPortName",
         {text(u"Port (COM3)"), std::nullopt, std::nullopt, RawValue{3, {'C', 0, 'O', 0, 'M', 0, '3', 0}}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        const auto record = zsp::portRecord(c.device);
        ASSERT_EQ(record.has_value(), c.expected.has_value()) << c.name;
        if (record) {
            EXPECT_EQ(record->name, c.expected->name) << c.name;
            EXPECT_EQ(record->manufacturer, c.expected->manufacturer) << c.name;
            EXPECT_EQ(record->description, c.expected->description) << c.name;
        }
    }
}

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, as Windows and Wine fill it, and the merge with SetupDi's records.
TEST(PortRecordsTest, SerialCommNamesPortsSetupDiDoesNotKnow) {
    struct Entry {
        const char* device;
        RawValue value;
    };
    const Entry entries[] = {
        {"\\Device\\Serial0", text(u"COM1")},
        {"\\Device\\VCP0", text(u"COM3")},
        {"\\Device\\Serial6", text(u"COM7", zsp::kRegSz, 0)},
        {"\\Device\\Parallel0", text(u"LPT1")},
        {"\\Device\\ProlificSerial10", text(u"COM12")},
    };
    std::vector<PortRecord> serialComm;
    for (const auto& entry : entries)
        if (auto record = zsp::serialCommRecord(entry.device, entry.value)) serialComm.push_back(*record);
    const std::vector<PortRecord> setupDi = {{"COM3", "FTDI", "USB Serial Port"},
                                             {"COM5", "Microsoft", "USB Serial Device"},
                                             {"COM3", "FTDI", "USB Serial Port"}};
    const std::vector<PortRecord> expected = {
        {"COM3", "FTDI", "USB Serial Port"},
        {"COM5", "Microsoft", "USB Serial Device"},
        {"COM1", "Serial", "Serial"},
        {"COM7", "Serial", "Serial"},
        {"COM12", "ProlificSerial", "ProlificSerial"},
    };
    EXPECT_EQ(zsp::mergePortRecords(setupDi, serialComm), expected);
}

TEST(PortRecordsTest, ComPortNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "COM1"},   {"com255", "COM255"}, {"CoM42", "COM42"}, {"COM256", nullptr}, {"COM0", nullptr},
        {"COM01", nullptr}, {"COM", nullptr},     {"COMX", nullptr},  {"LPT1", nullptr},   {"COM1 ", nullptr},
    };
    for (const auto& [name, expected] : cases) {
        const auto got = zsp::comPortName(name);
        EXPECT_EQ(got.value_or("(none)"), expected ? expected : "(none)") << name;
    }
}

}  // namespace
