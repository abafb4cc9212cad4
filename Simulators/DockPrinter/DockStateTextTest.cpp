#include "Simulators/DockPrinter/DockStateText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace Simulators::Dock;
using testing::HasSubstr;

std::string FailureOf(std::string_view text) {
    try {
        ParseStateText(text, "GD0001.txt");
    } catch (const StateTextError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(DockStateText, EveryFieldRoundTripsExceptConfigurationMode) {
    PrinterState state = FactoryState();
    state.pin = "0042";
    state.macAddress.clear();
    state.bluetooth = {false, "Hall \"dock\" \\ 1", true, true, {"Phone", "Tablet \"2\""}};
    Profile wep;
    wep.id = 3;
    wep.profileName = "Office";
    wep.friendlyName = "Ü-Büro";
    wep.defaultHostId = "host";
    wep.wifi = {WifiMode::Adhoc,
                "net\nline",
                6,
                NetworkMode::Shared,
                DataMode::Wep128,
                KeyKind::Wep,
                {"0123456789", "", "ABCDEF0123", "x"},
                ""};
    wep.ip = {false, "10.0.0.2", "255.0.0.0", "10.0.0.1"};
    state.profiles[3] = wep;
    Profile wpa;
    wpa.id = 255;
    wpa.wifi = {WifiMode::Infrastructure, "Home", 11,          NetworkMode::WpaPsk, DataMode::Aes,
                KeyKind::WpaPsk,          {},     "secret key"};
    state.profiles[255] = wpa;

    PrinterState withMode = state;
    withMode.configMode = true;
    EXPECT_EQ(ParseStateText(FormatStateText(withMode), "x"), state);
}

TEST(DockStateText, MalformedFilesAreRefusedWithTheirLine) {
    EXPECT_THAT(FailureOf("pin = 1234\n"), HasSubstr("GD0001.txt:1: 'pin' takes a text in double quotes"));
    EXPECT_THAT(FailureOf("\npin\n"), HasSubstr("GD0001.txt:2: expected 'name = value'"));
    EXPECT_THAT(FailureOf("pin = \"a\"\npin = \"b\"\n"), HasSubstr("'pin' is given twice"));
    EXPECT_THAT(FailureOf("pin = \"a\\q\"\n"), HasSubstr("unknown escape \\q"));
    EXPECT_THAT(FailureOf("pin = \"a\"b\"\n"), HasSubstr("an unescaped quote"));
    EXPECT_THAT(FailureOf("pin = \"a\\\"\n"), HasSubstr("a lone backslash"));
    EXPECT_THAT(FailureOf("bluetooth = yes\n"), HasSubstr("'bluetooth' is on or off"));
    EXPECT_THAT(FailureOf("colour = \"red\"\n"), HasSubstr("unknown setting 'colour'"));
    EXPECT_THAT(FailureOf("[profile 256]\n"), HasSubstr("expected [profile <0..255>]"));
    EXPECT_THAT(FailureOf("[profile x]\n"), HasSubstr("expected [profile <0..255>]"));
    EXPECT_THAT(FailureOf("[profile 1]\n[profile 1]\n"), HasSubstr("GD0001.txt:2: profile 1 is given twice"));
    EXPECT_THAT(FailureOf("[profile 1]\nchannel = 15\n"), HasSubstr("'channel' is a number from 1 to 14"));
    EXPECT_THAT(FailureOf("[profile 1]\nnetwork = wpa\n"), HasSubstr("'wpa' is no value of 'network'"));
    EXPECT_THAT(FailureOf("[profile 1]\nip = dhcp\n"), HasSubstr("ip is auto or static"));
    EXPECT_THAT(FailureOf("[profile 1]\npin = \"1\"\n"), HasSubstr("unknown profile setting 'pin'"));
    // Paired devices repeat; blank lines and comments are skipped.
    const auto state = ParseStateText("# kept by the simulator\n\npaired = \"A\"\npaired = \"B\"\n", "x");
    EXPECT_EQ(state.bluetooth.pairedDevices, (std::vector<std::string>{"A", "B"}));
}

}  // namespace
