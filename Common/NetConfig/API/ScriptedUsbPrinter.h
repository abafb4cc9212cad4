// A USB printer for tests and fuzz targets whose reads follow a script:
// each step is what one system read returns (its bytes, cut to the size
// asked, the rest staying for the next read, and an error code). It logs
// the size asked of every read and every write the host made. An empty
// script reads 0 bytes at once, as an idle printer does.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Machine.h"
#include "Platform/Usb.h"

namespace TestSupport {

using Bytes = std::vector<BYTE>;

struct ScriptedRead {
    Bytes bytes;
    DWORD error = ERROR_SUCCESS;
};

class ScriptedUsbPrinter : public Platform::UsbPrinterModel {
public:
    explicit ScriptedUsbPrinter(const Platform::UsbPrinterIdentity& identity) : UsbPrinterModel(identity) {}

    void AddRead(Bytes bytes, DWORD error = ERROR_SUCCESS) {
        std::lock_guard lock(mutex_);
        script_.push_back({std::move(bytes), error});
    }
    void Script(const std::vector<ScriptedRead>& steps) {
        std::lock_guard lock(mutex_);
        script_.assign(steps.begin(), steps.end());
    }
    std::size_t PendingReads() const {
        std::lock_guard lock(mutex_);
        return script_.size();
    }
    std::vector<DWORD> ReadSizes() const {
        std::lock_guard lock(mutex_);
        return readSizes_;
    }
    std::vector<Bytes> Writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    void ClearLogs() {
        std::lock_guard lock(mutex_);
        readSizes_.clear();
        writes_.clear();
    }
    // Every later write fails with that error (0: writes succeed again).
    void FailWrites(DWORD error) {
        std::lock_guard lock(mutex_);
        writeError_ = error;
    }
    // Every later write reports one byte fewer than asked.
    void ShortWrites(bool on) {
        std::lock_guard lock(mutex_);
        shortWrites_ = on;
    }

    DWORD Read(BYTE* buffer, DWORD length, DWORD& read) override {
        std::lock_guard lock(mutex_);
        readSizes_.push_back(length);
        read = 0;
        if (script_.empty()) return ERROR_SUCCESS;
        ScriptedRead& step = script_.front();
        const DWORD error = step.error;
        const auto n = static_cast<DWORD>(std::min<std::size_t>(length, step.bytes.size()));
        if (n > 0) std::memcpy(buffer, step.bytes.data(), n);
        read = n;
        if (n == step.bytes.size())
            script_.pop_front();
        else
            step.bytes.erase(step.bytes.begin(), step.bytes.begin() + n);
        return error;
    }

    DWORD Write(const BYTE* data, DWORD length, DWORD& written) override {
        std::lock_guard lock(mutex_);
        written = 0;
        writes_.emplace_back(data, data + length);
        if (writeError_ != ERROR_SUCCESS) return writeError_;
        written = shortWrites_ && length > 0 ? length - 1 : length;
        return ERROR_SUCCESS;
    }

private:
    mutable std::mutex mutex_;
    std::deque<ScriptedRead> script_;
    std::vector<DWORD> readSizes_;
    std::vector<Bytes> writes_;
    DWORD writeError_ = ERROR_SUCCESS;
    bool shortWrites_ = false;
};

inline Platform::UsbPrinterIdentity ScriptedIdentity(const std::u16string& serial = u"SN0001") {
    Platform::UsbPrinterIdentity identity;
    identity.vendorId = 0x1A2B;
    identity.productId = 0x0C01;
    identity.manufacturer = u"Velmo";
    identity.product = u"Glimmerly Dock";
    identity.serialNumber = serial;
    identity.outPacketSize = 64;
    identity.inPacketSize = 64;
    return identity;
}

// The driver key of a device node, as the hub walk reports it (ASCII).
inline std::string DriverKeyOf(DEVINST node) {
    const std::u16string key = Platform::GetMachine().Devices().DriverKey(node);
    std::string narrow;
    for (char16_t c : key) narrow.push_back(static_cast<char>(c));
    return narrow;
}

}  // namespace TestSupport
