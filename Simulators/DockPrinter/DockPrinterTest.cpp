// The dock at the byte level: raw blocks and request bodies written to its
// printing interface with WriteFile, raw answers read with ReadFile.
#include "Simulators/DockPrinter/DockPrinter.h"

#include "Platform/Clock.h"
#include "Platform/Files.h"
#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <thread>

using namespace Simulators;
using namespace Simulators::Dock;
using Platform::Milliseconds;
using Bytes = std::vector<BYTE>;

namespace {

const Bytes kEnterBlock{0x37, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kLeaveBlock{0x37, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kConfirmation{0x37, 0x01, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kIdleStatus{0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Bytes Header(std::size_t length) {
    return {0x37,
            0x01,
            0,
            0,
            static_cast<BYTE>(length),
            static_cast<BYTE>(length >> 8),
            static_cast<BYTE>(length >> 16),
            static_cast<BYTE>(length >> 24),
            0,
            0,
            0,
            0};
}

Bytes Block(BYTE status, const std::string& body) {
    Bytes out{0x37, status, static_cast<BYTE>(body.size()), static_cast<BYTE>(body.size() >> 8)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::string Doc(const std::string& root, const std::string& inner) {
    return "<" + root + " version=\"1.0\">" + inner + "</" + root + ">";
}

std::string Cmd(const std::string& command, const std::string& root = "dockConfig") {
    return Doc(root, "<" + command + "></" + command + ">");
}

// The profile a Wi-Fi peer writes, line ends and all.
const std::string kHomeProfileXml =
    "<profile country=\"DE\" domain=\"ETSI\" id=\"1\">\n<profileName>Home</profileName>\n"
    "<wifi mode=\"infrastructure\">\n<ssid>HomeNet</ssid>\n<channel>6</channel>\n"
    "<security data=\"tkip\" network=\"wpa-psk\">\n<wpaPSKKey>secret</wpaPSKKey>\n</security>\n</wifi>\n"
    "<ipSettings automatic=\"false\">\n<ipAddress>192.168.1.20</ipAddress>\n<subnetMask>255.255.255.0</subnetMask>\n"
    "<gateway>192.168.1.1</gateway>\n</ipSettings>\n<friendlyName>Kitchen</friendlyName>\n"
    "<qztDefaultHostID>HOST7</qztDefaultHostID>\n</profile>\n";

const std::string kFactoryProfileXml =
    "<profile country=\"US\" domain=\"FCC\" id=\"0\">\n<profileName>Default</profileName>\n"
    "<wifi mode=\"infrastructure\">\n<ssid></ssid>\n<channel>11</channel>\n"
    "<security data=\"none\" network=\"open\">\n</security>\n</wifi>\n<ipSettings automatic=\"true\">\n</ipSettings>\n"
    "<friendlyName>Glimmer Dock</friendlyName>\n<qztDefaultHostID></qztDefaultHostID>\n</profile>\n";

const std::string kBluetoothXml =
    "<bluetoothProfile enabled=\"true\">\n<friendlyName>Dock BT</friendlyName>\n<pin required=\"true\"></pin>\n"
    "<linkwise enabled=\"false\"></linkwise>\n<pairedDevices>\n<pairedDevice>\n<deviceName>Phone</deviceName>\n"
    "</pairedDevice>\n</pairedDevices>\n</bluetoothProfile>\n";

Profile HomeProfile() {
    Profile p;
    p.id = 1;
    p.country = "DE";
    p.domain = "ETSI";
    p.profileName = "Home";
    p.wifi.ssid = "HomeNet";
    p.wifi.channel = 6;
    p.wifi.network = NetworkMode::WpaPsk;
    p.wifi.data = DataMode::Tkip;
    p.wifi.keys = KeyKind::WpaPsk;
    p.wifi.wpaKey = "secret";
    p.ip = {false, "192.168.1.20", "255.255.255.0", "192.168.1.1"};
    p.friendlyName = "Kitchen";
    p.defaultHostId = "HOST7";
    return p;
}

class DockPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        hc_ = Platform::GetMachine().Devices().AddHostController(2);
        dock_ = std::make_shared<DockPrinter>();
        dock_->SetGuid("GUID-1");
        dock_->SetMacAddress("00:11:22:33:44:55");
        dock_->PutProfile(HomeProfile());
        dock_->SetBluetooth({true, "Dock BT", true, false, {"Phone"}});
        dock_->Attach(hc_.rootHub, 1);
        handle_ = Open();
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    HANDLE Open() {
        return CreateFileW(dock_->PrintingInterfacePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    void Send(const Bytes& bytes) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
    }
    void Send(const std::string& text) { Send(Bytes(text.begin(), text.end())); }
    Bytes ReadOnce(DWORD size = 512) {
        Bytes buffer(size);
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(handle_, buffer.data(), size, &got, nullptr)) << GetLastError();
        buffer.resize(got);
        return buffer;
    }
    void Enter() {
        Send(kEnterBlock);
        EXPECT_EQ(ReadOnce(), kConfirmation);
    }
    // Sends a request and reads its whole status block, as many reads as it takes.
    Bytes Ask(const std::string& body) {
        Send(Header(body.size()));
        Send(body);
        Bytes block = ReadOnce();
        while (block.size() >= 4 && block[1] == 1 && block.size() < 4u + (block[2] | block[3] << 8)) {
            Bytes more = ReadOnce();
            if (more.empty()) break;
            block.insert(block.end(), more.begin(), more.end());
        }
        return block;
    }

    Platform::ScopedFreshMachine machine_;
    std::shared_ptr<Platform::ManualClock> clock_ = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scopedClock_{clock_};
    Platform::HostControllerNodes hc_;
    std::shared_ptr<DockPrinter> dock_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(DockPrinterTest, SitsOnTheBusAsACompositePrinterAndReportsItsDeviceId) {
    auto& devices = Platform::GetMachine().Devices();
    EXPECT_EQ(devices.InstanceId(dock_->DeviceNode()), u"USB\\VID_3B7D&PID_410F\\GD0001");
    EXPECT_NE(devices.PrintingFunction(dock_->DeviceNode()), dock_->DeviceNode());
    char id[1024] = {};
    DWORD got = 0;
    ASSERT_TRUE(DeviceIoControl(handle_, IOCTL_USBPRINT_GET_1284_ID, id, sizeof id, id, sizeof id, &got, nullptr));
    // The fixed part, then the media count and the busy flag.
    EXPECT_EQ(std::string(id, got), DockPrinter::DefaultDeviceId() + "PUR:50;PRB:0;");
}

TEST_F(DockPrinterTest, ConfirmsModeBlocksEveryTimeInOneReadAndOtherwiseAnswersThePrinterStatusAtOnce) {
    const auto before = clock_->Now();
    EXPECT_EQ(ReadOnce(), kIdleStatus);
    EXPECT_EQ(clock_->Now(), before);  // no wait when nothing is queued
    Enter();
    EXPECT_TRUE(dock_->InConfigMode());
    Enter();  // again, as a reopened host channel needs it
    Send(kLeaveBlock);
    EXPECT_EQ(ReadOnce(12), kConfirmation);
    EXPECT_FALSE(dock_->InConfigMode());
    EXPECT_EQ(ReadOnce(), kIdleStatus);
    EXPECT_EQ(clock_->Now(), before);
    const auto counters = dock_->GetCounters();
    EXPECT_EQ(counters.enters, 2u);
    EXPECT_EQ(counters.leaves, 1u);

    // An unread confirmation stays in the pipe, unless the dock is told to
    // start every session afresh.
    Send(kLeaveBlock);
    Send(kEnterBlock);
    EXPECT_EQ(dock_->PendingTransfers(), 2u);
    ReadOnce();
    ReadOnce();
    dock_->SetDropQueuedOnEnter(true);
    Send(kLeaveBlock);
    Send(kEnterBlock);
    EXPECT_EQ(dock_->PendingTransfers(), 1u);
}

TEST_F(DockPrinterTest, AnswersEveryReadingCommandUnderItsRoot) {
    Enter();
    const std::string bt = "bluetoothDockConfig";
    const std::pair<std::string, std::string> cases[] = {
        {Cmd("getPrinterGuid"),
         "<dockConfig><getPrinterGuidResponse><guid>GUID-1</guid></getPrinterGuidResponse></dockConfig>"},
        {Cmd("getMacAddress"),
         "<dockConfig><getMacAddressResponse result=\"0\"><macAddress>00:11:22:33:44:55</macAddress>"
         "</getMacAddressResponse></dockConfig>"},
        {Cmd("getPrinterSettings"),
         "<dockConfig><getPrinterSettingsResponse><pin>1234</pin></getPrinterSettingsResponse></dockConfig>"},
        {Cmd("getPrinterSettings", bt),
         "<bluetoothDockConfig><getPrinterSettingsResponse><pin>1234</pin></getPrinterSettingsResponse>"
         "</bluetoothDockConfig>"},
        {Cmd("getAllProfiles"), "<dockConfig><getAllProfilesResponse>" + kFactoryProfileXml + kHomeProfileXml +
                                    "</getAllProfilesResponse></dockConfig>"},
        {Cmd("getBluetoothProfile", bt), "<bluetoothDockConfig><getBluetoothProfileResponse result=\"0\">" +
                                             kBluetoothXml + "</getBluetoothProfileResponse></bluetoothDockConfig>"},
        {Cmd("getBluetoothProfile"), "<dockConfig><getBluetoothProfileResponse result=\"0\">" + kBluetoothXml +
                                         "</getBluetoothProfileResponse></dockConfig>"},
        {Cmd("findNetworks"), "<dockConfig><findNetworksResponse></findNetworksResponse></dockConfig>"},
    };
    for (const auto& [request, answer] : cases) EXPECT_EQ(Ask(request), Block(1, answer)) << request;

    // A scan shows each network's faces without key material; a dock
    // without a MAC address says so by its result.
    WifiSettings face;
    face.ssid = "Cafe";
    face.channel = 1;
    face.mode = WifiMode::Adhoc;
    face.network = NetworkMode::Shared;
    face.data = DataMode::Wep64;
    face.keys = KeyKind::Wep;
    face.wepKeys[0] = "hidden";
    WifiSettings aes = face;
    aes.ssid = "Office";
    aes.channel = 36;
    aes.mode = WifiMode::Infrastructure;
    aes.network = NetworkMode::WpaPsk;
    aes.data = DataMode::Aes;
    aes.keys = KeyKind::None;
    dock_->SetNetworks({{{face, aes}}});
    EXPECT_EQ(Ask(Cmd("findNetworks")),
              Block(1,
                    "<dockConfig><findNetworksResponse><network>\n<wifi mode=\"adhoc\">\n<ssid>Cafe</ssid>\n"
                    "<channel>1</channel>\n<security data=\"wep-64bit\" network=\"shared\">\n</security>\n</wifi>\n"
                    "<wifi mode=\"infrastructure\">\n<ssid>Office</ssid>\n<channel>36</channel>\n"
                    "<security data=\"aes\" network=\"wpa-psk\">\n</security>\n</wifi>\n</network>\n"
                    "</findNetworksResponse></dockConfig>"));
    dock_->SetMacAddress("");
    EXPECT_EQ(Ask(Cmd("getMacAddress")),
              Block(1, "<dockConfig><getMacAddressResponse result=\"1\"></getMacAddressResponse></dockConfig>"));
}

TEST_F(DockPrinterTest, WritingCommandsChangeTheStateAndReportResults) {
    Enter();
    // A profile is stored by id, whatever white space the peer puts between elements.
    Profile changed = HomeProfile();
    changed.wifi.ssid = "Other";
    std::string profile = kHomeProfileXml;
    profile.replace(profile.find("HomeNet"), 7, "Other");
    profile.replace(profile.find("<profileName>"), 0, " \t\r\n");
    EXPECT_EQ(Ask(Doc("dockConfig", "<setProfileData>" + profile + "</setProfileData>")),
              Block(1, "<dockConfig><setProfileDataResponse result=\"0\"></setProfileDataResponse></dockConfig>"));
    EXPECT_EQ(dock_->FindProfile(1), changed);
    EXPECT_EQ(dock_->Profiles().size(), 2u);

    // An unknown id is added, or refused when the dock is told to.
    std::string unknown = kHomeProfileXml;
    unknown.replace(unknown.find("id=\"1\""), 6, "id=\"7\"");
    const std::string setUnknown = Doc("dockConfig", "<setProfileData>" + unknown + "</setProfileData>");
    dock_->SetUnknownProfilePolicy(UnknownProfilePolicy::Refuse);
    EXPECT_EQ(Ask(setUnknown),
              Block(1, "<dockConfig><setProfileDataResponse result=\"2\"></setProfileDataResponse></dockConfig>"));
    EXPECT_FALSE(dock_->FindProfile(7));
    dock_->SetUnknownProfilePolicy(UnknownProfilePolicy::Add);
    EXPECT_EQ(Ask(setUnknown),
              Block(1, "<dockConfig><setProfileDataResponse result=\"0\"></setProfileDataResponse></dockConfig>"));
    EXPECT_TRUE(dock_->FindProfile(7));

    // Keys that do not fit the security, or an empty domain, are refused by result.
    std::string mismatch = kHomeProfileXml;
    mismatch.replace(mismatch.find("wpa-psk"), 7, "open");
    std::string noDomain = kHomeProfileXml;
    noDomain.replace(noDomain.find("ETSI"), 4, "");
    for (const auto& bad : {mismatch, noDomain})
        EXPECT_EQ(Ask(Doc("dockConfig", "<setProfileData>" + bad + "</setProfileData>")),
                  Block(1, "<dockConfig><setProfileDataResponse result=\"1\"></setProfileDataResponse></dockConfig>"));
    EXPECT_EQ(dock_->FindProfile(1), changed);

    // PIN: four digits or nothing changes.
    const std::string bt = "bluetoothDockConfig";
    EXPECT_EQ(Ask(Doc(bt, "<setPrinterSettings><pin>4321</pin></setPrinterSettings>")),
              Block(1,
                    "<bluetoothDockConfig><setPrinterSettingsResponse result=\"0\"></setPrinterSettingsResponse>"
                    "</bluetoothDockConfig>"));
    EXPECT_EQ(Ask(Doc(bt, "<setPrinterSettings><pin>12345</pin></setPrinterSettings>")),
              Block(1,
                    "<bluetoothDockConfig><setPrinterSettingsResponse result=\"1\"></setPrinterSettingsResponse>"
                    "</bluetoothDockConfig>"));
    EXPECT_EQ(dock_->Pin(), "4321");
    // A short PIN the dock holds is taken back; another is not.
    dock_->SetPin("123");
    EXPECT_EQ(Ask(Doc(bt, "<setPrinterSettings><pin>123</pin></setPrinterSettings>")),
              Block(1,
                    "<bluetoothDockConfig><setPrinterSettingsResponse result=\"0\"></setPrinterSettingsResponse>"
                    "</bluetoothDockConfig>"));
    EXPECT_EQ(Ask(Doc(bt, "<setPrinterSettings><pin>124</pin></setPrinterSettings>")),
              Block(1,
                    "<bluetoothDockConfig><setPrinterSettingsResponse result=\"1\"></setPrinterSettingsResponse>"
                    "</bluetoothDockConfig>"));
    EXPECT_EQ(dock_->Pin(), "123");
    dock_->SetPin("4321");

    // The Bluetooth profile is replaced whole; leaving a device out unpairs it.
    EXPECT_EQ(Ask(Doc(bt,
                      "<setBluetoothProfileData><bluetoothProfile enabled=\"false\"><friendlyName>New</friendlyName>"
                      "<pin required=\"false\"/><linkwise enabled=\"true\"></linkwise><pairedDevices>"
                      "</pairedDevices></bluetoothProfile></setBluetoothProfileData>")),
              Block(1,
                    "<bluetoothDockConfig><setBluetoothProfileDataResponse result=\"0\">"
                    "</setBluetoothProfileDataResponse></bluetoothDockConfig>"));
    EXPECT_EQ(dock_->Bluetooth(), (BluetoothProfile{false, "New", false, true, {}}));

    EXPECT_EQ(Ask(Cmd("restartBluetooth", bt)),
              Block(1,
                    "<bluetoothDockConfig><restartBluetoothResponse result=\"0\"></restartBluetoothResponse>"
                    "</bluetoothDockConfig>"));
    EXPECT_EQ(dock_->GetCounters().bluetoothRestarts, 1u);
    EXPECT_EQ(dock_->State().bluetoothRestarts, 1u);

    // A forced result is reported and nothing is applied.
    dock_->SetFault("setPrinterSettings", {.times = 1, .result = 9});
    EXPECT_EQ(
        Ask(Doc("dockConfig", "<setPrinterSettings><pin>0000</pin></setPrinterSettings>")),
        Block(1, "<dockConfig><setPrinterSettingsResponse result=\"9\"></setPrinterSettingsResponse></dockConfig>"));
    EXPECT_EQ(dock_->Pin(), "4321");
    dock_->SetBluetoothResultAlias(true);
    EXPECT_EQ(Ask(Doc("dockConfig", "<setBluetoothProfileData>" + kBluetoothXml + "</setBluetoothProfileData>")),
              Block(1,
                    "<dockConfig><setBluetoothProfileResponse result=\"0\"></setBluetoothProfileResponse>"
                    "</dockConfig>"));
    EXPECT_EQ(dock_->Bluetooth(), (BluetoothProfile{true, "Dock BT", true, false, {"Phone"}}));
}

TEST_F(DockPrinterTest, TextComesBackExactlyAndEscapedWhateverItHolds) {
    Enter();
    // Entities, character references and text outside the BMP in; escaped
    // markup, the same UTF-8 and no leading zeros out.
    std::string profile = kHomeProfileXml;
    profile.replace(profile.find("Home<"), 4, "Caf\u00e9 &amp; &lt;b&gt; &#x1F600; \U0001F4F7");
    profile.replace(profile.find("secret"), 6, "p&quot;w&apos;d&amp;<!-- no -->x");
    const std::string attributes = "country=\"DE\" domain=\"ETSI\" id=\"1\"";
    profile.replace(profile.find(attributes), attributes.size(), "id=\"1\"   domain=\"A&amp;B\" country='D\"E'");
    ASSERT_EQ(Ask(Doc("dockConfig", "<setProfileData>" + profile + "</setProfileData>")).at(1), 1);
    const auto stored = dock_->FindProfile(1);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->profileName, "Caf\u00e9 & <b> \U0001F600 \U0001F4F7");
    EXPECT_EQ(stored->wifi.wpaKey, "p\"w'd&x");
    EXPECT_EQ(stored->domain, "A&B");
    EXPECT_EQ(stored->country, "D\"E");

    const Bytes answer = Ask(Cmd("getAllProfiles"));
    const std::string text(answer.begin() + 4, answer.end());
    EXPECT_NE(text.find("<profile country=\"D&quot;E\" domain=\"A&amp;B\" id=\"1\">"), std::string::npos);
    EXPECT_NE(text.find("<profileName>Caf\u00e9 &amp; &lt;b&gt; \U0001F600 \U0001F4F7</profileName>"),
              std::string::npos);
    EXPECT_NE(text.find("<wpaPSKKey>p&quot;w&apos;d&amp;x</wpaPSKKey>"), std::string::npos);

    // Numbers are written plainly; numbers with leading zeros are not taken.
    Profile odd = HomeProfile();
    odd.id = 8;
    odd.wifi.channel = 0;
    dock_->PutProfile(odd);
    const Bytes again = Ask(Cmd("getAllProfiles"));
    const std::string text2(again.begin() + 4, again.end());
    EXPECT_NE(text2.find("id=\"8\""), std::string::npos);
    EXPECT_NE(text2.find("<channel>0</channel>"), std::string::npos);
    std::string zeros = kHomeProfileXml;
    zeros.replace(zeros.find("<channel>6"), 10, "<channel>06");
    EXPECT_EQ(Ask(Doc("dockConfig", "<setProfileData>" + zeros + "</setProfileData>")), Block(2, ""));
}

TEST_F(DockPrinterTest, RefusesWhatItCannotReadWithAFailureStatusAndNoBody) {
    Enter();
    const std::string good = Doc("dockConfig", "<setProfileData>" + kHomeProfileXml + "</setProfileData>");
    const std::string bad[] = {
        "",
        "<dockConfig version=\"1.0\"><getPrinterGuid></getPrinterGuid>",
        Cmd("getPrinterGuid", "printerConfig"),
        "<dockConfig version=\"2.0\"><getPrinterGuid></getPrinterGuid></dockConfig>",
        "<dockConfig><getPrinterGuid></getPrinterGuid></dockConfig>",
        Cmd("getEverything"),
        Cmd("restartBluetooth"),
        Cmd("getAllProfiles", "bluetoothDockConfig"),
        Doc("dockConfig", "<getPrinterGuid></getPrinterGuid><getPrinterGuid></getPrinterGuid>"),
        Doc("dockConfig", "<getPrinterGuid>now</getPrinterGuid>"),
        Doc("dockConfig", "<setPrinterSettings><pin>1</pin><pin>2</pin></setPrinterSettings>"),
        Doc("dockConfig", "<setProfileData>x" + kHomeProfileXml + "</setProfileData>"),
        Doc("dockConfig", "<setProfileData><profile domain=\"D\"></profile></setProfileData>"),
        std::string(good).replace(good.find("tkip"), 4, "rot13"),
        std::string(good).replace(good.find("infrastructure"), 14, "mesh"),
        std::string(good).replace(good.find("<qztDefaultHostID>"), 0, "<colour>red</colour>"),
        std::string(good).replace(good.find("<wpaPSKKey>"), 0, "<wepKeys><key id=\"5\">k</key></wepKeys>"),
        "<!DOCTYPE dockConfig [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
            Doc("dockConfig", "<getPrinterGuid>&x;</getPrinterGuid>"),
        "<!DOCTYPE dockConfig>" + Cmd("getPrinterGuid"),
        Doc("dockConfig", "<getPrinterGuid>&nbsp;</getPrinterGuid>"),
        "<dockConfig version=\"1.0\"><getPrinterGuid></getPrinterGuid></dockConfig>\xff",
    };
    for (const auto& body : bad) EXPECT_EQ(Ask(body), Block(2, "")) << body;
    EXPECT_EQ(dock_->FindProfile(1), HomeProfile());

    std::string deep = Cmd("getPrinterGuid");
    for (int i = 0; i < 100; ++i) deep.insert(deep.find("</getPrinterGuid>"), "<a>");
    EXPECT_EQ(Ask(deep), Block(2, ""));

    // Outside configuration mode nothing is answered but a refusal.
    Send(kLeaveBlock);
    ReadOnce();
    EXPECT_EQ(Ask(Cmd("getPrinterGuid")), Block(3, ""));
    EXPECT_EQ(dock_->GetCounters().requestsOutsideConfigMode, 1u);
    dock_->SetRequireConfigMode(false);
    EXPECT_EQ(Ask(Cmd("getPrinterGuid")).at(1), 1);
}

TEST_F(DockPrinterTest, CutsTheByteStreamIntoBlocksAndBodiesHoweverItArrives) {
    // Header and body in pieces, then header and body in one write.
    const std::string body = Cmd("getPrinterGuid");
    Bytes all = kEnterBlock;
    const Bytes header = Header(body.size());
    all.insert(all.end(), header.begin(), header.end());
    all.insert(all.end(), body.begin(), body.end());
    for (std::size_t at = 0; at < all.size(); at += 5)
        Send(Bytes(all.begin() + at, all.begin() + std::min(all.size(), at + 5)));
    EXPECT_EQ(ReadOnce(), kConfirmation);
    EXPECT_EQ(ReadOnce().at(1), 1);
    Send(all);
    EXPECT_EQ(ReadOnce(), kConfirmation);
    EXPECT_EQ(ReadOnce().at(1), 1);

    // A 0-length request is handled without waiting for a body.
    Send(Header(0));
    EXPECT_EQ(ReadOnce(), Block(2, ""));
    EXPECT_EQ(dock_->Requests().back().body, "");

    // Garbage is dropped (and answered only when asked to); the stream then resynchronises.
    Send(std::string("hello"));
    Send(Bytes{0x37, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(ReadOnce().empty());
    EXPECT_EQ(dock_->GetCounters().framingErrors, 2u);
    dock_->SetFramingErrorStatus(0x09);
    Send(Bytes{0x00});
    EXPECT_EQ(ReadOnce(), Block(9, ""));
    Send(Header(DockPrinter::kMaxRequestBody + 1));
    EXPECT_EQ(ReadOnce(), Block(9, ""));
    EXPECT_EQ(Ask(body).at(1), 1);
}

TEST_F(DockPrinterTest, NeverAnnouncesMoreThanTheSignedLengthFieldHolds) {
    Enter();
    std::vector<ScannedNetwork> many;
    for (int i = 0; i < 400; ++i) {
        WifiSettings face;
        face.ssid = "Network number " + std::to_string(i);
        many.push_back({{face}});
    }
    dock_->SetNetworks(many);
    EXPECT_EQ(Ask(Cmd("findNetworks")), Block(4, ""));
    many.resize(100);
    dock_->SetNetworks(many);
    const Bytes fits = Ask(Cmd("findNetworks"));
    EXPECT_EQ(fits[1], 1);
    EXPECT_LT(fits[3], 0x80);
}

TEST_F(DockPrinterTest, DelaysRunOnTheMachineClock) {
    // A late confirmation: polls meanwhile get nothing, at once.
    dock_->SetFault(DockPrinter::kEnter, {.times = 1, .delay = Milliseconds(2500)});
    Send(kEnterBlock);
    const auto start = clock_->Now();
    EXPECT_TRUE(ReadOnce().empty());
    EXPECT_EQ(clock_->Now(), start);
    clock_->Advance(Milliseconds(2500));
    EXPECT_EQ(ReadOnce(), kConfirmation);

    // A slow answer holds the read until it is ready ...
    dock_->SetFault("findNetworks", {.delay = Milliseconds(4000)});
    Send(Header(Cmd("findNetworks").size()));
    Send(Cmd("findNetworks"));
    const auto asked = clock_->Now();
    EXPECT_EQ(ReadOnce().at(1), 1);
    EXPECT_EQ(clock_->Now() - asked, Milliseconds(4000));

    // ... but not beyond the wait limit, after which the read returns empty.
    dock_->SetAnswerWaitLimit(Milliseconds(1000));
    Send(Header(Cmd("findNetworks").size()));
    Send(Cmd("findNetworks"));
    const auto limited = clock_->Now();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(ReadOnce().empty());
    EXPECT_EQ(ReadOnce().at(1), 1);
    EXPECT_EQ(clock_->Now() - limited, Milliseconds(4000));

    // A silent dock never answers that request but answers the next.
    dock_->SetFault("getPrinterGuid", {.times = 1, .silent = true});
    Send(Header(Cmd("getPrinterGuid").size()));
    Send(Cmd("getPrinterGuid"));
    const auto silentFrom = clock_->Now();
    EXPECT_TRUE(ReadOnce().empty());
    EXPECT_TRUE(ReadOnce().empty());
    EXPECT_EQ(clock_->Now() - silentFrom, Milliseconds(2000));
    EXPECT_EQ(Ask(Cmd("getPrinterGuid")).at(1), 1);

    // A dock that never confirms.
    dock_->SetFault(DockPrinter::kLeave, {.times = 1, .silent = true});
    Send(kLeaveBlock);
    EXPECT_TRUE(ReadOnce().empty());
    EXPECT_TRUE(dock_->InConfigMode());
}

TEST_F(DockPrinterTest, ShapesAnswersAsTheFaultSays) {
    Enter();
    const std::string guid = Cmd("getPrinterGuid");
    const Bytes whole = Ask(guid);
    auto ask = [&](DockPrinter::Fault fault) {
        fault.times = 1;
        dock_->SetFault("getPrinterGuid", fault);
        Send(Header(guid.size()));
        Send(guid);
    };

    ask({.status = 0x05});
    EXPECT_EQ(ReadOnce(), Block(5, ""));

    // Split, with an empty read between the pieces.
    ask({.split = {4, 0, 8}});
    EXPECT_EQ(ReadOnce(), Bytes(whole.begin(), whole.begin() + 4));
    EXPECT_TRUE(ReadOnce().empty());
    EXPECT_EQ(ReadOnce(), Bytes(whole.begin() + 4, whole.begin() + 12));
    EXPECT_EQ(ReadOnce(), Bytes(whole.begin() + 12, whole.end()));

    // Reads never take more than asked, nor cross a transfer's end.
    ask({});
    EXPECT_EQ(ReadOnce(12), Bytes(whole.begin(), whole.begin() + 12));
    EXPECT_EQ(ReadOnce(), Bytes(whole.begin() + 12, whole.end()));

    ask({.truncate = 3});
    EXPECT_EQ(ReadOnce(), Bytes(whole.begin(), whole.begin() + 3));
    EXPECT_TRUE(ReadOnce().empty());

    ask({.lengthField = 0x8001});
    Bytes longer = whole;
    longer[2] = 0x01;
    longer[3] = 0x80;
    EXPECT_EQ(ReadOnce(), longer);

    ask({.body = "<other/>", .lengthField = 2});
    EXPECT_EQ(ReadOnce(), (Bytes{0x37, 1, 2, 0, '<', 'o', 't', 'h', 'e', 'r', '/', '>'}));

    ask({.moreData = true});
    Bytes buffer(512);
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(handle_, buffer.data(), 512, &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(got, whole.size());

    dock_->FailNextRead(ERROR_GEN_FAILURE);
    EXPECT_FALSE(ReadFile(handle_, buffer.data(), 512, &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    dock_->FailNextWrite(ERROR_GEN_FAILURE, 5);
    EXPECT_FALSE(WriteFile(handle_, kEnterBlock.data(), 12, &got, nullptr));
    EXPECT_EQ(got, 5u);
    Send(Bytes(kEnterBlock.begin() + 5, kEnterBlock.end()));
    EXPECT_EQ(ReadOnce(), kConfirmation);

    // A permanent fault stays until cleared.
    dock_->SetFault("getPrinterGuid", {.status = 7});
    EXPECT_EQ(Ask(guid), Block(7, ""));
    EXPECT_EQ(Ask(guid), Block(7, ""));
    dock_->ClearFaults();
    EXPECT_EQ(Ask(guid), whole);
}

TEST_F(DockPrinterTest, PullingThePlugMidAnswerDropsTheChannelAndTheMode) {
    Enter();
    const std::string guid = Cmd("getPrinterGuid");
    dock_->SetFault("getPrinterGuid", {.times = 1, .disconnectAfter = 6});
    Send(Header(guid.size()));
    Send(guid);
    EXPECT_EQ(ReadOnce().size(), 6u);
    Bytes buffer(64);
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(handle_, buffer.data(), 64, &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(dock_->IsAttached());
    EXPECT_FALSE(dock_->InConfigMode());
    EXPECT_FALSE(WriteFile(handle_, kEnterBlock.data(), 12, &got, nullptr));
    CloseHandle(handle_);

    // Plugged in again, it starts afresh.
    dock_->Attach(hc_.rootHub, 1);
    handle_ = Open();
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    Enter();
    EXPECT_EQ(Ask(guid).at(1), 1);
}

TEST_F(DockPrinterTest, RecordsEveryByteAndEveryRequest) {
    Enter();
    const std::string guid = Cmd("getPrinterGuid");
    const Bytes answer = Ask(guid);
    Bytes received = kEnterBlock;
    const Bytes header = Header(guid.size());
    received.insert(received.end(), header.begin(), header.end());
    received.insert(received.end(), guid.begin(), guid.end());
    EXPECT_EQ(dock_->BytesReceived(), received);
    Bytes sent = kConfirmation;
    sent.insert(sent.end(), answer.begin(), answer.end());
    EXPECT_EQ(dock_->BytesSent(), sent);
    const auto transcript = dock_->Transcript();
    ASSERT_EQ(transcript.size(), 5u);
    EXPECT_EQ(transcript[2].direction, DockPrinter::Direction::ToPrinter);
    EXPECT_EQ(transcript[2].bytes, header);
    const auto requests = dock_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].root, "dockConfig");
    EXPECT_EQ(requests[0].command, "getPrinterGuid");
    EXPECT_EQ(requests[0].body, guid);
    EXPECT_EQ(requests[0].answer, std::string(answer.begin() + 4, answer.end()));
    dock_->ClearHistory();
    EXPECT_TRUE(dock_->Transcript().empty());
    EXPECT_EQ(dock_->GetCounters().enters, 0u);
}

TEST_F(DockPrinterTest, AnswersFromAnotherThreadWhileTheStateIsRead) {
    Enter();
    std::thread host([&] {
        for (int i = 0; i < 50; ++i) EXPECT_EQ(Ask(Cmd("getAllProfiles")).at(1), 1);
    });
    for (int i = 0; i < 50; ++i) {
        EXPECT_GE(dock_->Profiles().size(), 2u);
        dock_->SetPin(i % 2 ? "1111" : "2222");
    }
    host.join();
}

}  // namespace
