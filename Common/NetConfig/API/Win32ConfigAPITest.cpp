#include "Common/NetConfig/API/Win32ConfigAPI.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/NetConfig/API/ScriptedUsbPrinter.h"
#include "Platform/Clock.h"
#include "Platform/Machine.h"

namespace {

using TestSupport::Bytes;
using TestSupport::ScriptedRead;
using TestSupport::ScriptedUsbPrinter;

const Bytes kEnter = {0x37, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kLeave = {0x37, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kConfirmation = {0x37, 0x01, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr int kVendor = 0x1A2B;
constexpr int kProduct = 0x0C01;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A manual clock that remembers every sleep.
class RecordingClock final : public Platform::Clock {
public:
    Platform::Milliseconds Now() const override { return inner.Now(); }
    void SleepFor(Platform::Milliseconds duration) override {
        sleeps.push_back(duration.count());
        inner.SleepFor(duration);
    }
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Platform::Milliseconds deadline,
                   const std::function<bool()>& pred) override {
        return inner.WaitUntil(lock, cv, deadline, pred);
    }

    Platform::ManualClock inner;
    std::vector<long long> sleeps;
};

std::size_t OpenHandles() {
    return Platform::GetMachine().Devices().OpenDeviceHandleCount();
}

std::string Failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const Tessary::TSException& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

class Win32ConfigAPITest : public ::testing::Test {
protected:
    Win32ConfigAPITest() {
        auto& devices = Platform::GetMachine().Devices();
        hub = devices.AddHostController(4).rootHub;
        node = devices.AttachDevice(hub, 1, printer);
    }

    void Open() { api.OpenBySerialNumber(kVendor, kProduct, "SN0001"); }

    // Open, with configuration mode confirmed and the logs cleared.
    void OpenInConfigMode() {
        Open();
        printer->AddRead(kConfirmation);
        api.SetConfigMode(true);
        printer->ClearLogs();
    }

    Platform::ScopedFreshMachine machine;
    std::shared_ptr<RecordingClock> clock = std::make_shared<RecordingClock>();
    Platform::ScopedClock clockScope{clock};
    std::shared_ptr<ScriptedUsbPrinter> printer = std::make_shared<ScriptedUsbPrinter>(TestSupport::ScriptedIdentity());
    DEVINST hub = 0;
    DEVINST node = 0;
    Win32ConfigAPI api;
};

// ---- Write transcripts ----

TEST_F(Win32ConfigAPITest, OpenRequestResponseClose) {
    Open();
    EXPECT_EQ(printer->Writes(), std::vector<Bytes>{kEnter});
    // Opening only looks at what is already there (nothing): it does not
    // wait for the confirmation.
    EXPECT_EQ(printer->ReadSizes(), std::vector<DWORD>{64});
    EXPECT_FALSE(api.inConfigMode);

    printer->AddRead(kConfirmation);
    printer->AddRead({0x37, 0x01, 0x02, 0x00, 'o', 'k'});
    printer->AddRead(kConfirmation);

    const std::string request(300, 'x');
    api.SendRequest(request.data(), static_cast<int>(request.size()));
    EXPECT_TRUE(api.inConfigMode);
    const Bytes header = {0x37, 0x01, 0x00, 0x00, 0x2C, 0x01, 0x00, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(printer->Writes(), (std::vector<Bytes>{kEnter, header, Text(request)}));

    std::string response;
    api.ReadResponse(response);
    EXPECT_EQ(response, "ok");

    // Already confirmed: nothing is read.
    const auto readsBefore = printer->ReadSizes().size();
    api.SetConfigMode(true);
    EXPECT_EQ(printer->ReadSizes().size(), readsBefore);

    EXPECT_EQ(OpenHandles(), 1u);
    api.Close(true);
    EXPECT_EQ(printer->Writes(), (std::vector<Bytes>{kEnter, header, Text(request), kLeave}));
    EXPECT_FALSE(api.inConfigMode);
    EXPECT_FALSE(api.IsConnected());
    EXPECT_EQ(printer->PendingReads(), 0u);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_TRUE(clock->sleeps.empty()) << "every confirmation came at the first poll";
}

TEST_F(Win32ConfigAPITest, OpeningDropsWhatAnEarlierChannelLeftUnread) {
    OpenInConfigMode();
    api.Close(false);
    // Still queued: the leave confirmation and a whole answer in two
    // transfers; then the printer's idle status read, and what comes after.
    printer->Script({{kConfirmation},
                     {{0x37, 0x01, 0x05, 0x00, 'h', 'e'}},
                     {Text("llo")},
                     {{0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
                     {Text("later")}});
    Open();
    EXPECT_EQ(printer->PendingReads(), 1u) << "nothing past the first block that is not a configuration answer";
    EXPECT_EQ(printer->Writes(), (std::vector<Bytes>{kLeave, kEnter}));

    // The new channel's own confirmation and answer are read as such.
    printer->Script({{kConfirmation}, {{0x37, 0x01, 0x03, 0x00, 'a', 'b', 'c'}}});
    api.SendRequest("q", 1);
    std::string response;
    api.ReadResponse(response);
    EXPECT_EQ(response, "abc");

    // A read failure while looking ends the looking, not the open.
    printer->Script({{{}, ERROR_GEN_FAILURE}});
    Open();
    EXPECT_TRUE(api.IsConnected());
    EXPECT_EQ(printer->Writes().back(), kEnter);
}

TEST_F(Win32ConfigAPITest, ZeroLengthRequestIsHeaderAndEmptyWrite) {
    OpenInConfigMode();
    api.SendRequest("", 0);
    const Bytes header = {0x37, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(printer->Writes(), (std::vector<Bytes>{header, Bytes{}}));
    EXPECT_THROW(api.WriteRequestData("x", -1), Tessary::TSInvalidArgument);
    EXPECT_EQ(printer->Writes().size(), 2u);
}

TEST_F(Win32ConfigAPITest, CloseWithoutLeavingReadsNothing) {
    OpenInConfigMode();
    printer->AddRead(kConfirmation);
    api.Close(false);
    EXPECT_EQ(printer->Writes(), std::vector<Bytes>{kLeave});
    EXPECT_TRUE(printer->ReadSizes().empty());
    EXPECT_TRUE(api.inConfigMode);
    EXPECT_FALSE(api.IsConnected());
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(Win32ConfigAPITest, CloseOutsideConfigModeSendsNothing) {
    Open();
    api.Close(true);
    EXPECT_EQ(printer->Writes(), std::vector<Bytes>{kEnter});
    EXPECT_FALSE(api.IsConnected());
    EXPECT_EQ(OpenHandles(), 0u);
    api.Close(true);  // nothing held: nothing happens
}

TEST_F(Win32ConfigAPITest, OpenOverOpenAndDestructorSendNoLeave) {
    {
        Win32ConfigAPI local;
        local.OpenBySerialNumber(kVendor, kProduct, "SN0001");
        printer->AddRead(kConfirmation);
        local.SetConfigMode(true);
        local.OpenByDriverKeyName(TestSupport::DriverKeyOf(node), 64, 64);
        EXPECT_EQ(OpenHandles(), 1u);
        EXPECT_TRUE(local.IsConnected());
    }
    EXPECT_EQ(printer->Writes(), (std::vector<Bytes>{kEnter, kEnter}));
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(Win32ConfigAPITest, ReopenWaitsForTheConfirmationAgain) {
    OpenInConfigMode();
    api.Close(false);
    ASSERT_TRUE(api.inConfigMode);

    Open();
    EXPECT_FALSE(api.inConfigMode);
    // The printer confirms the new entry before it answers: that block must
    // not be taken for the response.
    printer->AddRead(kConfirmation);
    printer->AddRead({0x37, 0x01, 0x03, 0x00, 'a', 'b', 'c'});
    api.SendRequest("q", 1);
    std::string response;
    api.ReadResponse(response);
    EXPECT_EQ(response, "abc");
    EXPECT_EQ(printer->PendingReads(), 0u);
}

TEST_F(Win32ConfigAPITest, OpenFailureKeepsThePreviousDevice) {
    OpenInConfigMode();
    EXPECT_EQ(Failure([&] { api.OpenBySerialNumber(kVendor, kProduct, "OTHER"); }),
              "Printer (serial #OTHER) unavailable");
    EXPECT_EQ(Failure([&] { api.OpenByDriverKeyName("nowhere", 64, 64); }), "Printer nowhere is unavailable");
    EXPECT_TRUE(api.IsConnected());
    EXPECT_TRUE(api.inConfigMode);
    EXPECT_TRUE(printer->Writes().empty());
    EXPECT_EQ(OpenHandles(), 1u);
}

// ---- Close releases the device whatever fails ----

TEST_F(Win32ConfigAPITest, CloseReleasesTheDeviceWhenTheConfirmationNeverComes) {
    OpenInConfigMode();
    EXPECT_EQ(Failure([&] { api.Close(true); }), "Can't confirm config mode (timeout)");
    EXPECT_EQ(printer->Writes(), std::vector<Bytes>{kLeave});
    EXPECT_FALSE(api.IsConnected());
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(Win32ConfigAPITest, CloseReleasesTheDeviceWhenTheLeaveBlockFails) {
    OpenInConfigMode();
    printer->FailWrites(ERROR_GEN_FAILURE);
    try {
        api.Close(true);
        ADD_FAILURE() << "nothing thrown";
    } catch (const ConfigModeIOException& e) {
        EXPECT_STREQ(e.what(), "Error sending data to printer");
        EXPECT_EQ(e.GetErrorCode(), static_cast<std::int32_t>(ERROR_GEN_FAILURE));
    }
    EXPECT_FALSE(api.IsConnected());
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(Win32ConfigAPITest, CloseReleasesAnUnpluggedPrinter) {
    OpenInConfigMode();
    Platform::GetMachine().Devices().Detach(hub, 1);
    try {
        api.Close(true);
        ADD_FAILURE() << "nothing thrown";
    } catch (const ConfigModeIOException& e) {
        EXPECT_EQ(e.GetErrorCode(), static_cast<std::int32_t>(ERROR_DEVICE_NOT_CONNECTED));
    }
    EXPECT_FALSE(api.IsConnected());
    EXPECT_EQ(OpenHandles(), 0u);
}

// ---- Transfers ----

TEST_F(Win32ConfigAPITest, NothingWithoutADevice) {
    unsigned char buffer[12];
    unsigned length = sizeof buffer;
    std::string response;
    EXPECT_THROW(api.ReadRaw(buffer, length), Tessary::TSLogicError);
    EXPECT_THROW(api.WriteData(buffer, 1), Tessary::TSLogicError);
    EXPECT_THROW(api.ReadResponseData(response), Tessary::TSLogicError);
    EXPECT_EQ(Failure([&] { api.SendRequest("a", 1); }), "Not currently connected to a device");
}

TEST_F(Win32ConfigAPITest, TransferFailuresCarryTheLastError) {
    OpenInConfigMode();
    printer->AddRead({}, ERROR_GEN_FAILURE);
    std::string response = "untouched";
    try {
        api.ReadResponse(response);
        ADD_FAILURE() << "nothing thrown";
    } catch (const ConfigModeIOException& e) {
        EXPECT_STREQ(e.what(), "Error reading data from printer");
        EXPECT_EQ(e.GetErrorCode(), static_cast<std::int32_t>(ERROR_GEN_FAILURE));
    }
    EXPECT_EQ(response, "untouched");

    printer->ShortWrites(true);
    try {
        api.SendRequest("abc", 3);
        ADD_FAILURE() << "nothing thrown";
    } catch (const ConfigModeIOException& e) {
        EXPECT_STREQ(e.what(), "Error sending data to printer");
    }
    EXPECT_TRUE(api.IsConnected()) << "no failure closes the channel by itself";
}

// ---- Response framing ----

struct FramingCase {
    const char* name;
    std::vector<ScriptedRead> reads;  // what each system read returns
    std::string body;                 // expected response when no failure
    std::string failure;              // expected message, empty for success
    int status = -1;                  // expected RequestFailureException status
    std::size_t readsLeft = 0;        // scripted reads the host must not take
};

void PrintTo(const FramingCase& c, std::ostream* os) {
    *os << c.name;
}

const Bytes kTrailer = {'Z', 'Z'};  // must stay unread

std::vector<FramingCase> FramingCases() {
    const std::string tooFew = "Didn't get minimum amount of status data";
    const std::string count = "Failed to read expected # of bytes";
    Bytes hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back(static_cast<BYTE>('A' + i % 26));
    std::string hundredText(hundred.begin(), hundred.end());
    Bytes status100 = {0x37, 0x01, 100, 0x00};
    status100.insert(status100.end(), hundred.begin(), hundred.begin() + 8);

    return {
        {"WholeBodyInTheStatusRead", {{{0x37, 0x01, 0x03, 0x00, 'a', 'b', 'c'}}, {kTrailer}}, "abc", "", -1, 1},
        {"EmptyBody", {{{0x37, 0x01, 0x00, 0x00}}, {kTrailer}}, "", "", -1, 1},
        {"FailureStatusReadsNoBody", {{{0x37, 0x02, 0x03, 0x00}}, {Text("abc")}}, "", "", 2, 1},
        {"FailureStatusIsUnsigned", {{{0x37, 0xFF, 0x00, 0x00}}, {kTrailer}}, "", "", 255, 1},
        {"MoreThanAnnounced",
         {{{0x37, 0x01, 0x02, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}}, {kTrailer}},
         "",
         count,
         -1,
         1},
        {"TopBitSetCountsAsEmpty", {{{0x37, 0x01, 0x00, 0x80}}, {kTrailer}}, "", "", -1, 1},
        {"TopBitSetWithData", {{{0x37, 0x01, 0xFF, 0xFF, 'a'}}, {kTrailer}}, "", count, -1, 1},
        {"OneEmptyReadIsHarmless", {{{0x37, 0x01, 0x03, 0x00}}, {}, {Text("abc")}, {kTrailer}}, "abc", "", -1, 1},
        {"TwoEmptyReadsFail",
         {{{0x37, 0x01, 0x05, 0x00, 'a'}}, {}, {Text("b")}, {}, {Text("cde")}},
         "",
         "Failed to read any bytes",
         -1,
         1},
        {"BodySplitOverThreeReads",
         {{{0x37, 0x01, 0x09, 0x00, 'a', 'b'}}, {Text("cde")}, {Text("fghi")}, {kTrailer}},
         "abcdefghi",
         "",
         -1,
         1},
        {"LongBodyReadDirectly", {{status100}, {Bytes(hundred.begin() + 8, hundred.end())}}, hundredText, "", -1, 0},
        {"StatusAndBodyInOneTransfer",
         {{Concat({0x37, 0x01, 0x0A, 0x00}, Text("0123456789"))}, {kTrailer}},
         "0123456789",
         "",
         -1,
         1},
        {"WrongPrefix",
         {{{0x36, 0x01, 0x03, 0x00, 'a', 'b', 'c'}}, {kTrailer}},
         "",
         "Status data prefix is incorrect: we aren't getting config mode status",
         -1,
         1},
        {"NoStatusBytes", {{}, {kTrailer}}, "", tooFew, -1, 1},
        {"OneStatusByte", {{{0x37}}, {kTrailer}}, "", tooFew, -1, 1},
        {"TwoStatusBytes", {{{0x37, 0x01}}, {kTrailer}}, "", tooFew, -1, 1},
        {"ThreeStatusBytes", {{{0x37, 0x01, 0x00}}, {kTrailer}}, "", tooFew, -1, 1},
    };
}

class ResponseFramingTest : public Win32ConfigAPITest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(ResponseFramingTest, ReadsExactlyTheAnnouncedBody) {
    const FramingCase& c = GetParam();
    OpenInConfigMode();
    printer->Script(c.reads);
    std::string response = "untouched";
    try {
        api.ReadResponse(response);
        EXPECT_TRUE(c.failure.empty() && c.status < 0) << "nothing thrown";
        EXPECT_EQ(response, c.body);
    } catch (const RequestFailureException& e) {
        EXPECT_EQ(e.GetStatus(), c.status);
        EXPECT_STREQ(e.what(), "Status indicates request could not be handled");
        EXPECT_EQ(response, "untouched");
    } catch (const ConfigModeIOException& e) {
        EXPECT_EQ(e.what(), c.failure);
        EXPECT_EQ(e.GetErrorCode(), static_cast<std::int32_t>(ERROR_INVALID_DATA));
        EXPECT_EQ(response, "untouched");
    }
    EXPECT_EQ(printer->PendingReads(), c.readsLeft);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResponseFramingTest, ::testing::ValuesIn(FramingCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Win32ConfigAPITest, SmallReadsShareOnePacket) {
    OpenInConfigMode();
    // Status block and a 20-byte body in one transfer: one packet read; then
    // a 100-byte body whose rest is read straight into the response.
    printer->AddRead(Concat({0x37, 0x01, 20, 0x00}, Text("abcdefghijklmnopqrst")));
    std::string response;
    api.ReadResponse(response);
    EXPECT_EQ(response, "abcdefghijklmnopqrst");
    EXPECT_EQ(printer->ReadSizes(), std::vector<DWORD>{64});

    printer->AddRead(Concat({0x37, 0x01, 100, 0x00}, Text("01234567")));
    printer->AddRead(Text(std::string(92, 'x')));
    api.ReadResponse(response);
    EXPECT_EQ(response, "01234567" + std::string(92, 'x'));
    EXPECT_EQ(printer->ReadSizes(), (std::vector<DWORD>{64, 64, 92}));
}

// ---- Confirmation of the mode over the channel ----

TEST_F(Win32ConfigAPITest, ConfirmationPollsEveryHundredMilliseconds) {
    Open();
    printer->ClearLogs();
    printer->Script({{}, {}, {{0x21, 0x01, 0x08, 0x00}}, {kConfirmation}});
    api.SetConfigMode(true);
    EXPECT_TRUE(api.inConfigMode);
    EXPECT_EQ(clock->sleeps, (std::vector<long long>{100, 100, 100}));
    EXPECT_EQ(printer->ReadSizes().size(), 4u);
}

struct TimeoutCase {
    long long startOffsetMs;  // into the whole second
    std::size_t polls;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) {
    *os << c.startOffsetMs << " ms in, " << c.polls << " polls";
}

class ConfirmationTimeoutTest : public Win32ConfigAPITest, public ::testing::WithParamInterface<TimeoutCase> {};

// Given up at the first poll when the whole seconds passed exceed 5.
TEST_P(ConfirmationTimeoutTest, GivesUpAfterMoreThanFiveWholeSeconds) {
    Open();
    printer->ClearLogs();
    clock->inner.Advance(Platform::Milliseconds(GetParam().startOffsetMs));
    EXPECT_EQ(Failure([&] { api.SetConfigMode(true); }), "Can't confirm config mode (timeout)");
    EXPECT_FALSE(api.inConfigMode);
    EXPECT_EQ(printer->ReadSizes().size(), GetParam().polls);
    EXPECT_EQ(clock->sleeps, std::vector<long long>(GetParam().polls - 1, 100));
}

INSTANTIATE_TEST_SUITE_P(StartWithinTheSecond, ConfirmationTimeoutTest,
                         ::testing::Values(TimeoutCase{0, 61}, TimeoutCase{500, 56}, TimeoutCase{900, 52}),
                         [](const auto& info) { return "At" + std::to_string(info.param.startOffsetMs) + "ms"; });

// A printer that never answers: each poll returns after the read time-out,
// and the wait still ends.
TEST(Win32ConfigAPISilentPrinterTest, ConfirmationEndsWithASilentPrinter) {
    Platform::ScopedFreshMachine machine;
    auto clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scope(clock);
    auto& devices = Platform::GetMachine().Devices();
    devices.AttachUsbPrinter(devices.AddHostController(1).rootHub, 1, TestSupport::ScriptedIdentity());
    Win32ConfigAPI api;
    api.OpenBySerialNumber(kVendor, kProduct, "SN0001");
    const auto start = clock->Now();
    EXPECT_EQ(Failure([&] { api.SetConfigMode(true); }), "Can't confirm config mode (timeout)");
    EXPECT_GT(clock->Now() - start, Platform::Milliseconds(5000));
    EXPECT_LT(clock->Now() - start, Platform::Milliseconds(8000));

    api.inConfigMode = true;
    std::string response;
    EXPECT_EQ(Failure([&] { api.ReadResponse(response); }), "Didn't get minimum amount of status data");
}

}  // namespace
