// A simulated machine with one print queue for the plug-in tests: the
// printer description documents and the test colour filter in an install
// folder, and a decoder of the print data stream.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Registry.h"
#include "Platform/Spooler.h"

namespace PluginTest {

inline constexpr const char16_t* kQueue = u"Velmo Glimmer";
inline constexpr const char* kDockId = "MFG:Velmo;MDL:Glimmer Dock;CMD:VELMO;CLS:PRINTER;VER:3.10;";

// REG_SZ as the plug-ins store it: UTF-16 without a terminating zero.
inline Platform::RegValue Text(std::u16string_view text) {
    Platform::RegValue value;
    value.type = REG_SZ;
    for (char16_t unit : text) {
        value.data.push_back(static_cast<BYTE>(unit));
        value.data.push_back(static_cast<BYTE>(unit >> 8));
    }
    return value;
}

inline std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class MachineFixture : public ::testing::Test {
protected:
    MachineFixture() {
        install_ = std::filesystem::temp_directory_path() / ("velmo-plugin-" + std::to_string(::getpid()) + "-" +
                                                             std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(install_);
        const std::filesystem::path data = std::filesystem::path(VELMO_SOURCE_DIR) / "data";
        std::filesystem::copy_file(data / "ORV.xml", install_ / "ORV.xml");
        std::filesystem::copy_file(data / "ORVIDs.xml", install_ / "ORVIDs.xml");
        const std::filesystem::path filter =
            std::filesystem::path(Platform::ProgramDirectory()) / "libVelmoTestFilter.so";
        if (std::filesystem::exists(filter)) std::filesystem::copy_file(filter, install_ / "libVelmoTestFilter.so");
        auto& registry = Platform::GetMachine().Registry();
        registry.CreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300");
        registry.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                          Platform::RegValue::String(Wide(install_.string())));
        Spooler().AddPrinter(kQueue, u"USB001", u"Velmo Glimmer Driver");
    }
    ~MachineFixture() override {
        std::error_code ignored;
        std::filesystem::remove_all(install_, ignored);
    }

    static Platform::PrintSpooler& Spooler() { return Platform::GetMachine().Spooler(); }
    void Set(std::u16string_view name, Platform::RegValue value) {
        Spooler().SetPrinterData(kQueue, Platform::kPrinterDriverDataKey, name, std::move(value));
    }
    void SetDeviceId(const std::string& id) { Set(u"DEVICE_ID", Text(Wide(id))); }
    std::string InstallFolder() const { return install_.string(); }

    Platform::ScopedFreshMachine machine_;
    std::filesystem::path install_;
};

// One copy of a page as the print data stream carries it.
struct PrintedCopy {
    int kind = 0;
    DWORD pin = 0;
    std::array<std::vector<BYTE>, 3> planes;
};

inline DWORD Le32(const BYTE* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// Splits a stream into copies, checking every header on the way.
inline std::vector<PrintedCopy> DecodeStream(const std::vector<BYTE>& stream) {
    std::vector<PrintedCopy> copies;
    std::size_t at = 0;
    const auto need = [&](std::size_t n) {
        if (stream.size() - at < n) throw std::runtime_error("stream cut short at " + std::to_string(at));
    };
    while (at < stream.size()) {
        need(12);
        const BYTE* h = stream.data() + at;
        if (h[0] != 0x30 || h[1] != 0 || h[2] != 0 || h[3] > 1 || Le32(h + 4) != 0)
            throw std::runtime_error("bad page header at " + std::to_string(at));
        PrintedCopy copy;
        copy.kind = h[3];
        copy.pin = Le32(h + 8);
        at += 12;
        const DWORD expected = copy.kind == 0 ? 1248u * 1856u : 1100u * 1560u;
        for (int plane = 0; plane < 3; ++plane) {
            need(12);
            const BYTE* p = stream.data() + at;
            if (p[0] != 0x30 || p[1] != 1 || p[2] != plane || p[3] != 0 || Le32(p + 4) != expected || Le32(p + 8) != 0)
                throw std::runtime_error("bad plane header at " + std::to_string(at));
            at += 12;
            need(expected);
            copy.planes[plane].assign(stream.begin() + at, stream.begin() + at + expected);
            at += expected;
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

}  // namespace PluginTest
