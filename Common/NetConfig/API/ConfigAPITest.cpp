#include "Common/NetConfig/API/ConfigAPI.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "Platform/Clock.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A channel whose device reads come from a script; an exhausted script reads
// 0 bytes, as an idle printer does.
class ScriptedChannel : public ConfigAPI {
public:
    void OpenByDriverKeyName(const std::string&, int, int) override { connected = true; }
    void OpenBySerialNumber(int, int, const std::string&) override { connected = true; }
    void Close(bool) override { connected = false; }
    void WriteRequestData(const void* data, int length) override {
        events.push_back("write");
        written.assign(static_cast<const char*>(data), static_cast<std::size_t>(length));
    }
    void ReadResponseData(std::string& out) override {
        events.push_back("read");
        out = "body";
    }
    bool IsConnected() const override { return connected; }
    void ReadRaw(void* buffer, unsigned& length) override {
        ++rawReads;
        if (failReads) throw ConfigModeIOException("Error reading data from printer", __FILE__, __LINE__, 31);
        if (reads.empty()) {
            length = 0;
            return;
        }
        Bytes next = reads.front();
        reads.pop_front();
        length = std::min<unsigned>(length, static_cast<unsigned>(next.size()));
        std::copy_n(next.begin(), length, static_cast<unsigned char*>(buffer));
    }
    short DeviceToHostShort(short value) override { return value; }

    bool connected = true;
    bool failReads = false;
    std::deque<Bytes> reads;
    int rawReads = 0;
    std::vector<std::string> events;
    std::string written;
};

const Bytes kConfirmation = {0x37, 0x01, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};

class ConfigAPITest : public ::testing::Test {
protected:
    std::shared_ptr<Platform::ManualClock> clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scope{clock};
    ScriptedChannel channel;

    std::string Failure(const std::function<void()>& f) {
        try {
            f();
        } catch (const Tessary::TSException& e) {
            return e.what();
        }
        return "(nothing thrown)";
    }
};

TEST_F(ConfigAPITest, RequestsConfirmTheModeOnce) {
    channel.reads = {{}, {}, kConfirmation};
    channel.SendRequest("abc", 3);
    EXPECT_TRUE(channel.inConfigMode);
    EXPECT_EQ(channel.rawReads, 3);
    EXPECT_EQ(channel.written, "abc");
    std::string response;
    channel.ReadResponse(response);
    EXPECT_EQ(response, "body");
    EXPECT_EQ(channel.rawReads, 3);
    EXPECT_EQ(channel.events, (std::vector<std::string>{"write", "read"}));
}

TEST_F(ConfigAPITest, NothingWithoutADevice) {
    channel.connected = false;
    std::string response;
    EXPECT_EQ(Failure([&] { channel.SendRequest("a", 1); }), "Not currently connected to a device");
    EXPECT_EQ(Failure([&] { channel.ReadResponse(response); }), "Not currently connected to a device");
    EXPECT_EQ(Failure([&] { channel.SetConfigMode(true); }), "Not currently connected to a device");
    EXPECT_THROW(channel.CheckConnected(), Tessary::TSLogicError);
    EXPECT_TRUE(channel.events.empty());
    EXPECT_EQ(channel.rawReads, 0);
}

TEST_F(ConfigAPITest, ModeAlreadySetReadsNothing) {
    channel.inConfigMode = true;
    channel.SetConfigMode(true);
    EXPECT_EQ(channel.rawReads, 0);
    channel.reads = {kConfirmation};
    channel.SetConfigMode(false);
    EXPECT_FALSE(channel.inConfigMode);
}

TEST_F(ConfigAPITest, MalformedConfirmations) {
    struct Case {
        Bytes block;
        const char* message;
    };
    const Case cases[] = {
        {{0x37}, "Invalid status data"},
        {{0x37, 0x01, 0x08}, "Invalid status data"},
        {{0x37, 0x02, 0x08, 0x00}, "Invalid status data, or request failed"},
        {{0x37, 0x01, 0x07, 0x00, 0, 0, 0, 0, 0, 0, 0}, "Invalid status data, or request failed"},
        {{0x37, 0x01, 0x08, 0x01}, "Invalid status data, or request failed"},
    };
    for (const Case& c : cases) {
        ScriptedChannel fresh;
        fresh.reads = {c.block};
        EXPECT_EQ(Failure([&] { fresh.SetConfigMode(true); }), c.message);
        EXPECT_FALSE(fresh.inConfigMode);
    }
    // A first byte other than 0x37 is not a confirmation: polling goes on.
    channel.reads = {{0x36, 0x01, 0x08, 0x00}, kConfirmation};
    channel.SetConfigMode(true);
    EXPECT_EQ(channel.rawReads, 2);
}

TEST_F(ConfigAPITest, ConfirmationTimesOutAfterMoreThanFiveWholeSeconds) {
    clock->Advance(Platform::Milliseconds(500));  // mid-second start
    const auto start = clock->Now();
    try {
        channel.SetConfigMode(true);
        ADD_FAILURE();
    } catch (const Tessary::TSRuntimeError& e) {
        EXPECT_STREQ(e.what(), "Can't confirm config mode (timeout)");
    }
    const auto waited = clock->Now() - start;
    EXPECT_GT(waited, Platform::Milliseconds(5000));
    EXPECT_LE(waited, Platform::Milliseconds(6000));
    // One poll per 100 ms slept, the first without sleeping.
    EXPECT_EQ(channel.rawReads, waited.count() / 100 + 1);
    EXPECT_FALSE(channel.inConfigMode);
}

TEST_F(ConfigAPITest, ReadFailureEndsTheWaitAtOnce) {
    channel.failReads = true;
    try {
        channel.SetConfigMode(true);
        ADD_FAILURE();
    } catch (const ConfigModeIOException& e) {
        EXPECT_EQ(e.GetErrorCode(), 31);
    }
    EXPECT_EQ(channel.rawReads, 1);
}

TEST_F(ConfigAPITest, ReopenIsNotOffered) {
    try {
        channel.Reopen();
        ADD_FAILURE();
    } catch (const Tessary::TSUnimplementedError& e) {
        EXPECT_STREQ(e.what(), "Reopening is not supported for this connection implementation is not yet implemented");
    }
}

TEST(ConfigAPIExceptionTest, CarryTheirCodes) {
    try {
        TS_THROW_CODE(RequestFailureException, "Status indicates request could not be handled", 2);
    } catch (const Tessary::TSRuntimeError& e) {
        const auto* failure = dynamic_cast<const RequestFailureException*>(&e);
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(failure->GetStatus(), 2);
    }
    const ConfigModeIOException io("Error sending data to printer", "f", 1, 0x7FFFFFFF);
    const ConfigModeIOException copy(io);
    EXPECT_EQ(copy.GetErrorCode(), 0x7FFFFFFF);
    EXPECT_STREQ(copy.what(), "Error sending data to printer");
}

}  // namespace
