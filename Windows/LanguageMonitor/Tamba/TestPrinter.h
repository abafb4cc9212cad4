// Test fixture: a scripted USB printer on the simulated machine for the
// language monitor's tests. Its status block, device id and write
// acceptance are set by the test; it records every write.
#pragma once

#include "MonitorPort.h"

#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Platform/Resource.h"
#include "Platform/Spooler.h"
#include "Platform/Usb.h"
#include "Windows/Common/ResourceDLL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Kemblin::test {

class ScriptedPrinter final : public Platform::UsbPrinterModel {
public:
    ScriptedPrinter() : UsbPrinterModel(Identity()) { SetId("MFG:Velmo;MDL:Dock;PRB:0;"); }

    static Platform::UsbPrinterIdentity Identity() {
        Platform::UsbPrinterIdentity identity;
        identity.vendorId = 0x3B7D;
        identity.productId = 0x410F;
        identity.manufacturer = u"Velmo";
        identity.product = u"Dock";
        identity.serialNumber = u"SN1";
        return identity;
    }

    // The id as the printer answers it: a big-endian length in front.
    void SetId(const std::string& text) {
        std::string raw;
        const std::size_t length = text.size() + 2;
        raw.push_back(static_cast<char>(length >> 8));
        raw.push_back(static_cast<char>(length & 0xFF));
        raw += text;
        SetDeviceId(raw);
        ++idChanges;
    }

    void SetStatus(BYTE newState, WORD newError = 0, bool newFlag = false) {
        state = newState;
        error = newError;
        flag = newFlag;
    }

    DWORD Read(BYTE* buffer, DWORD length, DWORD& read) override {
        read = 0;
        ++reads;
        if (shortReads > 0) {
            --shortReads;
            return ERROR_SUCCESS;
        }
        BYTE block[12] = {};
        block[0] = state.load();
        block[1] = 0xEE;
        block[2] = static_cast<BYTE>(error.load() & 0xFF);
        block[3] = static_cast<BYTE>(error.load() >> 8);
        block[4] = flag.load() ? 0xFF : 0xFE;
        read = std::min<DWORD>(length, sizeof block);
        std::memcpy(buffer, block, read);
        return ERROR_SUCCESS;
    }

    DWORD Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned) override {
        ++idReads;
        return UsbPrinterModel::Control(code, in, inLength, out, outLength, returned);
    }

    DWORD Write(const BYTE* data, DWORD length, DWORD& written) override {
        std::lock_guard lock(mutex_);
        DWORD take = length;
        if (acceptNext != 0) {
            take = std::min(take, acceptNext);
            acceptNext = 0;
        }
        stream_.insert(stream_.end(), data, data + take);
        writes_.push_back(take);
        written = take;
        if (autoPasses) Advance(take);
        return ERROR_SUCCESS;
    }

    std::vector<BYTE> Stream() const {
        std::lock_guard lock(mutex_);
        return stream_;
    }
    std::vector<DWORD> Writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    void ClearLog() {
        std::lock_guard lock(mutex_);
        stream_.clear();
        writes_.clear();
    }

    std::atomic<BYTE> state{1};
    std::atomic<WORD> error{0};
    std::atomic<bool> flag{false};
    std::atomic<int> shortReads{0};
    std::atomic<int> reads{0};
    std::atomic<int> idReads{0};
    std::atomic<int> idChanges{0};
    DWORD acceptNext = 0;  // the next write takes at most this many bytes (0: all)
    // The printer moves through its passes by itself as a page of kind 1
    // arrives: idle, first pass, second, third, idle again.
    bool autoPasses = false;

private:
    void Advance(DWORD bytes) {
        pagePosition_ += bytes;
        if (pagePosition_ >= 5148048) pagePosition_ = 0;
        state = pagePosition_ == 0 ? 1 : pagePosition_ < 1716024 ? 2 : pagePosition_ < 3432036 ? 4 : 8;
    }

    DWORD pagePosition_ = 0;
    mutable std::mutex mutex_;
    std::vector<BYTE> stream_;
    std::vector<DWORD> writes_;
};

// Page geometry of the stream kind 1 (the smaller page).
constexpr DWORD kPlaneEnd0 = 1716024;
constexpr DWORD kPlaneEnd1 = 3432036;
constexpr DWORD kPage = 5148048;

// A page of kind `kind` whose bytes are a pattern of the page number.
inline std::vector<BYTE> MakePage(BYTE kind, BYTE seed) {
    const DWORD size = kind == 0 ? 6948912 : kPage;
    std::vector<BYTE> page(size);
    for (DWORD i = 0; i < size; ++i) page[i] = static_cast<BYTE>(i * 7 + seed);
    page[0] = 0x30;
    page[1] = 0;
    page[2] = 0;
    page[3] = kind;
    return page;
}

// A machine with the printer on USB001, the queue "Dock" on it, the job
// status texts in the resource library, and a manual clock.
class MonitorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResourceDLL::Reset();
        Platform::ResourceTable table;
        for (UINT id : {1u, 2u, 3u, 4u, 5u, 8u, 9u, 19u, 24u, 25u, 26u, 27u, 30u}) {
            table.strings[id] = u"text " + std::u16string(1, static_cast<char16_t>(u'A' + id % 26)) + u"#" +
                                static_cast<char16_t>(u'0' + id / 10) + static_cast<char16_t>(u'0' + id % 10);
        }
        resources_ = Platform::RegisterResourceModule(u"ORVRES.DLL", table);
        const auto nodes = Platform::GetMachine().Devices().AddHostController(2);
        printer = std::make_shared<ScriptedPrinter>();
        Platform::GetMachine().Devices().AttachDevice(nodes.rootHub, 1, printer);
        Platform::GetMachine().Spooler().AddPrinter(u"Dock", u"USB001", u"Velmo Dock");
        job = Platform::GetMachine().Spooler().AddJob(u"Dock", u"photo");
    }
    void TearDown() override {
        resources_.Reset();
        ResourceDLL::Reset();
    }

    static std::u16string Text(UINT id) {
        return u"text " + std::u16string(1, static_cast<char16_t>(u'A' + id % 26)) + u"#" +
               static_cast<char16_t>(u'0' + id / 10) + static_cast<char16_t>(u'0' + id % 10);
    }
    static DWORD Now() { return GetTickCount(); }
    static std::vector<Platform::JobChange> Changes() { return Platform::GetMachine().Spooler().JobChanges(); }
    // As on a machine whose language library is missing.
    void DropResourceLibrary() {
        resources_.Reset();
        ResourceDLL::Reset();
    }

    std::shared_ptr<Platform::ManualClock> clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scopedClock{clock};
    Platform::ScopedFreshMachine machine;
    std::shared_ptr<ScriptedPrinter> printer;
    DWORD job = 0;

private:
    Platform::ResourceRegistration resources_;
};

}  // namespace Kemblin::test
