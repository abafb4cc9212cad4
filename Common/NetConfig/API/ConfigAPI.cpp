#include "Common/NetConfig/API/ConfigAPI.h"

#include <chrono>
#include <cstring>

#include "Platform/Clock.h"

namespace {

constexpr unsigned char kStatusPrefix = 0x37;
constexpr unsigned char kStatusHandled = 1;
constexpr short kConfirmationLength = 8;
constexpr std::size_t kStatusBlockSize = 12;
constexpr Platform::Milliseconds kPollInterval(100);
// Given up at the first poll more than this many whole seconds after the start.
constexpr long long kConfirmationSeconds = 5;

long long WholeSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(Platform::GetClock().Now()).count();
}

}  // namespace

ConfigAPI::~ConfigAPI() = default;

void ConfigAPI::CheckConnected() const {
    if (!IsConnected()) TS_THROW(Tessary::TSLogicError, "Not currently connected to a device");
}

void ConfigAPI::SendRequest(const char* data, int length) {
    CheckConnected();
    if (!inConfigMode) {
        CheckConnected();
        SetConfigMode(true);
    }
    WriteRequestData(data, length);
}

void ConfigAPI::ReadResponse(std::string& response) {
    CheckConnected();
    if (!inConfigMode) {
        CheckConnected();
        SetConfigMode(true);
    }
    ReadResponseData(response);
}

void ConfigAPI::Reopen() {
    TS_THROW(Tessary::TSUnimplementedError,
             std::string("Reopening is not supported for this connection implementation") + " is not yet implemented");
}

void ConfigAPI::SetConfigMode(bool on) {
    if (inConfigMode == on) return;
    CheckConnected();

    // The monotonic clock: a change of the system time neither cuts the wait
    // short nor makes it endless.
    const long long start = WholeSeconds();
    for (bool first = true;; first = false) {
        if (!first) Platform::GetClock().SleepFor(kPollInterval);

        unsigned char status[kStatusBlockSize];
        std::memset(status, 0, sizeof status);
        unsigned length = kStatusBlockSize;
        ReadRaw(status, length);

        if (length >= 1 && length <= 3) TS_THROW(Tessary::TSRuntimeError, "Invalid status data");
        if (length >= 4 && status[0] == kStatusPrefix) {
            const short field = DeviceToHostShort(static_cast<short>(status[2] | (status[3] << 8)));
            if (status[1] != kStatusHandled || field != kConfirmationLength) {
                TS_THROW(Tessary::TSRuntimeError, "Invalid status data, or request failed");
            }
            inConfigMode = on;
            return;
        }
        if (WholeSeconds() - start > kConfirmationSeconds) {
            TS_THROW(Tessary::TSRuntimeError, "Can't confirm config mode (timeout)");
        }
    }
}
