#include "Common/NetConfig/Requests.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

// A channel already in configuration mode whose printer answers from a script.
class ScriptedPrinter : public ConfigAPI {
public:
    ScriptedPrinter() { inConfigMode = true; }
    void OpenByDriverKeyName(const std::string&, int, int) override {}
    void OpenBySerialNumber(int, int, const std::string&) override {}
    void Close(bool) override { ++closes; }
    void WriteRequestData(const void* data, int length) override {
        requests.emplace_back(static_cast<const char*>(data), static_cast<std::size_t>(length));
    }
    void ReadResponseData(std::string& out) override {
        if (failStatus) TS_THROW_CODE(RequestFailureException, "Status indicates request could not be handled", 2);
        out = answers.front();
        answers.pop_front();
    }
    bool IsConnected() const override { return true; }
    void ReadRaw(void*, unsigned& length) override { length = 0; }
    short DeviceToHostShort(short value) override { return value; }

    std::deque<std::string> answers;
    std::vector<std::string> requests;
    bool failStatus = false;
    int closes = 0;
};

TEST(RequestDocumentTest, GoldenBytes) {
    std::string request = "previous";
    BuildGetPrinterGuidRequest(request);
    EXPECT_EQ(request, "<dockConfig version=\"1.0\"><getPrinterGuid></getPrinterGuid></dockConfig>");
    EXPECT_EQ(request.size(), 72u);
    BuildGetMacAddressRequest(request);
    EXPECT_EQ(request, "<dockConfig version=\"1.0\"><getMacAddress></getMacAddress></dockConfig>");
    EXPECT_EQ(request.size(), 70u);
    BuildGetAllProfilesRequest(request);
    EXPECT_EQ(request, "<dockConfig version=\"1.0\"><getAllProfiles></getAllProfiles></dockConfig>");
    EXPECT_EQ(request.size(), 72u);
    BuildGetPrinterSettingsRequest("dockConfig", request);
    EXPECT_EQ(request, "<dockConfig version=\"1.0\"><getPrinterSettings></getPrinterSettings></dockConfig>");
    EXPECT_EQ(request.size(), 80u);
    BuildGetPrinterSettingsRequest("bluetoothDockConfig", request);
    EXPECT_EQ(request,
              "<bluetoothDockConfig version=\"1.0\"><getPrinterSettings></getPrinterSettings></bluetoothDockConfig>");
    EXPECT_EQ(request.size(), 98u);
    BuildRequestDocument("dockConfig", request, "findNetworks");
    EXPECT_EQ(request.size(), 68u);
}

TEST(RoundTripTest, ReadSequenceOfTheSetupAssistant) {
    ScriptedPrinter printer;
    printer.answers = {
        "<dockConfig><getPrinterGuidResponse><guid>G-1</guid></getPrinterGuidResponse></dockConfig>",
        "<dockConfig><getMacAddressResponse result=\"0\"><macAddress>00:11:22:33:44:55</macAddress>"
        "</getMacAddressResponse></dockConfig>",
        "<dockConfig><getPrinterSettingsResponse><pin>1234</pin></getPrinterSettingsResponse></dockConfig>",
        "<dockConfig><getAllProfilesResponse><profile id=\"3\" domain=\"d\"/><profile id=\"1\" domain=\"d\"/>"
        "<profile id=\"2\" domain=\"d\"/></getAllProfilesResponse></dockConfig>",
    };
    std::string guid, mac;
    PrinterSettings settings;
    std::vector<Profile> profiles;
    EXPECT_TRUE(GetPrinterGuid(printer, guid));
    EXPECT_EQ(GetMacAddress(printer, mac), 0);
    EXPECT_TRUE(GetPrinterSettings("dockConfig", printer, settings));
    EXPECT_TRUE(GetAllProfiles(printer, profiles));

    EXPECT_EQ(guid, "G-1");
    EXPECT_EQ(mac, "00:11:22:33:44:55");
    EXPECT_EQ(settings.pin, "1234");
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[0].GetId(), 1);
    EXPECT_EQ(profiles[2].GetId(), 3);
    ASSERT_EQ(printer.requests.size(), 4u);
    EXPECT_EQ(printer.requests[0].size(), 72u);
    EXPECT_EQ(printer.requests[1], "<dockConfig version=\"1.0\"><getMacAddress></getMacAddress></dockConfig>");
    EXPECT_EQ(printer.requests[2].size(), 80u);
    EXPECT_EQ(printer.requests[3].size(), 72u);
    EXPECT_EQ(printer.closes, 0);
}

TEST(RoundTripTest, UnreadableAnswersBecomeResults) {
    ScriptedPrinter printer;
    printer.answers = {
        "<dockConfig><getMacAddressResponse result=\"5\"><macAddress>00:11:22:33:44:55</macAddress>"
        "</getMacAddressResponse></dockConfig>",
        "<dockConfig><getMacAddressResponse><macAddress>m</macAddress></getMacAddressResponse></dockConfig>",
        "<dockConfig><getAllProfilesResponse><profile id=\"1\"/></getAllProfilesResponse></dockConfig>",
        "<dockConfig><getPrinterSettingsResponse><pin>1</pin></getPrinterSettingsResponse></dockConfig>",
        "",
    };
    std::string mac = "old";
    EXPECT_EQ(GetMacAddress(printer, mac), 1);
    EXPECT_EQ(mac, "");
    EXPECT_EQ(GetMacAddress(printer, mac), 2);
    std::vector<Profile> profiles(2);
    EXPECT_FALSE(GetAllProfiles(printer, profiles));
    EXPECT_TRUE(profiles.empty());
    PrinterSettings settings{"9999"};
    EXPECT_FALSE(GetPrinterSettings("bluetoothDockConfig", printer, settings));
    EXPECT_EQ(settings.pin, "9999");
    std::string guid = "old";
    EXPECT_FALSE(GetPrinterGuid(printer, guid));
    EXPECT_EQ(guid, "");
}

TEST(RoundTripTest, SetProfileDataSendsEveryProfileAndReadsTheResult) {
    ScriptedPrinter printer;
    printer.answers = {
        "<dockConfig><setProfileDataResponse result=\"0\"></setProfileDataResponse></dockConfig>",
        "<dockConfig><setProfileDataResponse result=\"7\"/></dockConfig>",
        "<dockConfig><setProfileDataResponse/></dockConfig>",
        "<dockConfig><setPrinterSettingsResponse result=\"0\"/></dockConfig>",
    };
    Profile first;
    first.SetId(1);
    first.SetProfileName(Tessary::I8NString("Home & Away"));
    Profile second;
    second.SetId(2);
    int result = -1;
    EXPECT_TRUE(SetProfileData(printer, {first, second}, result));
    EXPECT_EQ(result, 0);
    ASSERT_EQ(printer.requests.size(), 1u);
    const std::string& sent = printer.requests[0];
    EXPECT_EQ(sent.rfind("<dockConfig version=\"1.0\"><setProfileData><profile ", 0), 0u) << sent;
    EXPECT_NE(sent.find("Home &amp; Away"), std::string::npos) << sent;
    EXPECT_LT(sent.find("id=\"1\""), sent.find("id=\"2\"")) << sent;
    EXPECT_TRUE(sent.ends_with("</profile>\n</setProfileData></dockConfig>")) << sent;

    EXPECT_TRUE(SetProfileData(printer, {first}, result));
    EXPECT_EQ(result, 7);
    result = -1;
    EXPECT_FALSE(SetProfileData(printer, {first}, result)) << "no result attribute";
    EXPECT_FALSE(SetProfileData(printer, {first}, result)) << "another command's answer";
    EXPECT_EQ(result, -1);
}

TEST(RoundTripTest, ChannelFailuresPassThroughAndLeaveOutputs) {
    ScriptedPrinter printer;
    printer.failStatus = true;
    std::vector<Profile> profiles(2);
    try {
        GetAllProfiles(printer, profiles);
        ADD_FAILURE();
    } catch (const RequestFailureException& e) {
        EXPECT_EQ(e.GetStatus(), 2);
    }
    EXPECT_EQ(profiles.size(), 2u);
    std::string guid = "kept";
    EXPECT_THROW(GetPrinterGuid(printer, guid), RequestFailureException);
    EXPECT_EQ(guid, "kept");
    std::string mac = "kept";
    EXPECT_THROW(GetMacAddress(printer, mac), RequestFailureException);
    EXPECT_EQ(mac, "kept");
    EXPECT_EQ(printer.closes, 0);
}

}  // namespace
