#include "Common/Headers/XcvPortRecord.h"
#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Platform/Security.h"
#include "Platform/Spooler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Platform::MonitorEntry;
using Platform::PortEntry;
using Platform::RegValue;

class SpoolerAdmin : public ::testing::Test {
protected:
    Platform::PrintSpooler& Spool() { return Platform::GetMachine().Spooler(); }

    void InstallDriver(std::u16string description) {
        Platform::GetMachine().Drivers().Install(
            Platform::DriverPackage{std::move(description), u"C:\\Windows\\INF\\oem1.inf", u"Install", {}, {}});
    }

    BOOL AddMonitor(std::u16string name, std::u16string environment, std::u16string library) {
        MONITOR_INFO_2W info{name.data(), environment.data(), library.data()};
        return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    }

    HANDLE AddPrinter(std::u16string name, std::u16string port, std::u16string driver,
                      std::u16string processor = u"winprint") {
        PRINTER_INFO_2W info{};
        info.pPrinterName = name.data();
        info.pPortName = port.data();
        info.pDriverName = driver.data();
        info.pPrintProcessor = processor.data();
        info.Attributes = 0xA40;
        return AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    }

    Platform::ScopedFreshMachine machine_;
};

TEST_F(SpoolerAdmin, AddMonitorErrors) {
    EXPECT_TRUE(AddMonitor(u"Velmo wireless printer port", u"Windows NT x86", u"ORVPM.DLL"));
    EXPECT_EQ(Spool().FindMonitor(u"velmo wireless printer port"),
              (MonitorEntry{u"Velmo wireless printer port", u"Windows NT x86", u"ORVPM.DLL"}));

    EXPECT_FALSE(AddMonitor(u"VELMO wireless printer port", u"Windows NT x86", u"ORVPM.DLL"));
    EXPECT_EQ(GetLastError(), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_FALSE(AddMonitor(u"Other", u"Windows x64", u"ORVPM.DLL"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ENVIRONMENT);
    EXPECT_FALSE(AddMonitor(u"Other", u"Windows NT x86", u"missing.dll"));
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(AddMonitor(u"Other", u"", u"ORVPM.DLL"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(AddMonitorW(nullptr, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);

    // The machine's environment is configurable.
    Spool().SetEnvironment(u"Windows x64");
    EXPECT_TRUE(AddMonitor(u"Other", u"windows x64", u"orvpm.dll"));

    Platform::GetMachine().SetUserIsAdministrator(false);
    EXPECT_FALSE(AddMonitor(u"Third", u"Windows x64", u"ORVPM.DLL"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// The two-call protocol: ask with no buffer, get the size, ask again.
template <class Info, class Call>
std::vector<Info> Enumerate(Call&& call, std::vector<std::uint64_t>& storage) {
    DWORD needed = 0xDEAD, returned = 7;
    EXPECT_FALSE(call(nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 0u);
    if (needed == 0) return {};
    storage.assign(needed / 8 + 1, 0);
    auto* buffer = reinterpret_cast<LPBYTE>(storage.data());
    DWORD again = 0;
    EXPECT_FALSE(call(buffer, needed - 1, &again, &returned));  // one byte short
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(again, needed);
    EXPECT_TRUE(call(buffer, needed, &again, &returned));
    const auto* infos = reinterpret_cast<const Info*>(buffer);
    return std::vector<Info>(infos, infos + returned);
}

TEST_F(SpoolerAdmin, EnumeratePortsAndPrintersPacksIntoTheCallersBuffer) {
    std::vector<std::uint64_t> storage;
    auto ports = [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPortsW(nullptr, 1, buffer, size, needed, returned);
    };
    DWORD needed = 1, returned = 1;
    EXPECT_TRUE(EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned));  // nothing to list
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(returned, 0u);

    Spool().AddPort(u"LPT1:");
    Spool().AddPort(PortEntry{u"WLP001:", 0x3B7D, 0x4104, u"{g}", u"ptp://h:1"});
    const auto portList = Enumerate<PORT_INFO_1W>(ports, storage);
    ASSERT_EQ(portList.size(), 2u);
    const auto* begin = reinterpret_cast<const BYTE*>(storage.data());
    const auto* end = begin + storage.size() * 8;
    for (const auto& info : portList) {
        const auto* text = reinterpret_cast<const BYTE*>(info.pName);
        EXPECT_TRUE(text >= begin + 2 * sizeof(PORT_INFO_1W) && text < end);  // strings follow the records
    }
    EXPECT_EQ(std::u16string(portList[0].pName), u"LPT1:");
    EXPECT_EQ(std::u16string(portList[1].pName), u"WLP001:");
    EXPECT_FALSE(EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);

    Spool().AddPrinter(u"Base", u"LPT1:", u"Driver");
    Spool().AddPrinter(u"base (copy 1)", u"LPT1:", u"Driver");
    auto printers = [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer, size, needed, returned);
    };
    const auto printerList = Enumerate<PRINTER_INFO_4W>(printers, storage);
    ASSERT_EQ(printerList.size(), 2u);
    EXPECT_EQ(std::u16string(printerList[0].pPrinterName), u"Base");
    EXPECT_EQ(std::u16string(printerList[1].pPrinterName), u"base (copy 1)");
    EXPECT_EQ(printerList[0].Attributes, PRINTER_ATTRIBUTE_LOCAL);
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, nullptr, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SpoolerAdmin, AddPrinterChecksEachField) {
    Spool().AddPort(u"WLP001:");
    InstallDriver(u"Velmo HV7300 Driver");
    Spool().AddPrinter(u"Taken", u"WLP001:", u"Velmo HV7300 Driver");

    EXPECT_EQ(AddPrinter(u"TAKEN", u"WLP001:", u"Velmo HV7300 Driver"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_ALREADY_EXISTS);
    EXPECT_EQ(AddPrinter(u"New", u"WLP002:", u"Velmo HV7300 Driver"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PORT);
    EXPECT_EQ(AddPrinter(u"New", u"WLP001:", u"Other Driver"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_EQ(AddPrinter(u"New", u"WLP001:", u"Velmo HV7300 Driver", u"lpprint"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PRINTPROCESSOR);
    EXPECT_EQ(AddPrinter(u"Bad,Name", u"WLP001:", u"Velmo HV7300 Driver"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(AddPrinter(u"New", u"", u"Velmo HV7300 Driver"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(AddPrinterW(nullptr, 1, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    Platform::GetMachine().SetUserIsAdministrator(false);
    EXPECT_EQ(AddPrinter(u"New", u"WLP001:", u"Velmo HV7300 Driver"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    Platform::GetMachine().SetUserIsAdministrator(true);
    EXPECT_EQ(Spool().PrinterNames().size(), 1u);

    HANDLE printer = AddPrinter(u"New", u"wlp001:", u"velmo hv7300 driver", u"WinPrint");
    ASSERT_NE(printer, nullptr);
    const auto queue = Spool().FindPrinter(u"New");
    ASSERT_TRUE(queue);
    EXPECT_EQ(queue->port, u"WLP001:");  // as the spooler knows them
    EXPECT_EQ(queue->driver, u"Velmo HV7300 Driver");
    EXPECT_EQ(queue->printProcessor, u"winprint");
    EXPECT_EQ(queue->attributes, 0xA40u);
    // The handle is the new queue's, opened with every right.
    const BYTE one[4] = {1, 0, 0, 0};
    EXPECT_EQ(SetPrinterDataExW(printer, u"PnPData", u"DeviceInstanceId", REG_DWORD, one, 4), ERROR_SUCCESS);
    EXPECT_EQ(Spool().OpenPrinterHandleCount(), 1u);
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_EQ(Spool().OpenPrinterHandleCount(), 0u);
}

TEST_F(SpoolerAdmin, PnpDataSizeProtocol) {
    const std::u16string id = u"USB\\VID_3B7D&PID_4104&MI_00\\7&1&0000";
    Spool().AddPrinter(u"Pnp", u"USB001", u"Driver");
    Spool().SetPrinterData(u"Pnp", u"PnPData", u"DeviceInstanceId", RegValue::String(id));
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Pnp", &printer, nullptr));
    DWORD type = 0, needed = 0;
    EXPECT_EQ(GetPrinterDataExW(printer, u"PnPData", u"DeviceInstanceId", &type, nullptr, 0, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(needed, (id.size() + 1) * 2);
    std::u16string text(needed / 2, u'\0');
    EXPECT_EQ(GetPrinterDataExW(printer, u"pnpdata", u"deviceinstanceid", &type, reinterpret_cast<LPBYTE>(text.data()),
                                needed, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text.c_str(), id);
    EXPECT_EQ(GetPrinterDataExW(printer, u"PnPData", u"HardwareID", &type, nullptr, 0, &needed), ERROR_FILE_NOT_FOUND);
    ClosePrinter(printer);
}

TEST_F(SpoolerAdmin, MonitorsPortsDriversAndAccessKeptOnDisk) {
    Platform::SpoolerData data;
    data.monitors[u"m"] = MonitorEntry{u"M", u"Windows NT x86", u"ORVPM.DLL"};
    data.ports[u"wlp001:"] = PortEntry{u"WLP001:", 0x3B7D, 0x4104, u"{g \"q\"}", u"ptp://h:1234"};
    data.ports[u"lpt1:"].name = u"LPT1:";
    Platform::PrinterQueue queue;
    queue.name = u"P";
    queue.port = u"WLP001:";
    queue.driver = u"D";
    queue.attributes = 0xA40;
    queue.access = {{u"EVERYONE", 0x1FFFFF, 1, 1}, {u"Guest", 0x8, 3, 0}};
    data.printers[u"p"] = queue;
    const std::string text = Platform::FormatSpoolerText(data);
    EXPECT_EQ(Platform::ParseSpoolerText(text, "spooler.txt"), data);

    for (const char* broken :
         {"[monitor \"\"]\n", "[port \"A\"]\n[port \"a\"]\n", "[port \"A\"]\nlibrary = \"x\"\n",
          "[port \"A\"]\nenvironment = \"x\"\n", "[printer \"P\"]\naccess = \"EVERYONE\" allow 0x1 0x0\n",
          "[printer \"P\"]\naccess = \"\" grant 0x1 0x0\n"}) {
        EXPECT_THROW(Platform::ParseSpoolerText(broken, "spooler.txt"), Platform::MachineFileError) << broken;
    }
}

// A setup run in one program is what the next program finds on disk.
TEST_F(SpoolerAdmin, SetupKeptInTheMachineFolder) {
    std::string folder = (std::filesystem::temp_directory_path() / "velmo-spooler-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    Platform::LoadMachine(folder);
    InstallDriver(u"Velmo HV7300 Driver");
    ASSERT_TRUE(AddMonitor(u"Velmo wireless printer port", u"Windows NT x86", u"ORVPM.DLL"));
    HANDLE xcv = nullptr;
    PRINTER_DEFAULTSW admin{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    ASSERT_TRUE(OpenPrinterW(u",XcvMonitor Velmo wireless printer port", &xcv, &admin));
    XcvPortRecord record;
    record.vendorId = 0x3B7D;
    record.productId = 0x410A;
    record.deviceName = u"{guid}";
    record.address = u"ptp://host:1234";
    auto bytes = record.Encode();
    char16_t port[16] = {};
    DWORD needed = 0, status = 1;
    ASSERT_TRUE(
        XcvDataW(xcv, u"AddPort", bytes.data(), 520, reinterpret_cast<LPBYTE>(port), sizeof port, &needed, &status));
    ASSERT_EQ(status, ERROR_SUCCESS);
    ClosePrinter(xcv);
    HANDLE printer = AddPrinter(u"Velmo", port, u"Velmo HV7300 Driver");
    ASSERT_NE(printer, nullptr);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              ERROR_SUCCESS);
    EXPLICIT_ACCESS_W everyone{};
    everyone.grfAccessPermissions = 0x1FFFFF;
    everyone.grfAccessMode = GRANT_ACCESS;
    everyone.grfInheritance = OBJECT_INHERIT_ACE;
    everyone.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    everyone.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    std::u16string name = u"EVERYONE";
    everyone.Trustee.ptstrName = name.data();
    PACL updated = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &everyone, dacl, &updated), ERROR_SUCCESS);
    ASSERT_EQ(
        SetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, updated, nullptr),
        ERROR_SUCCESS);
    LocalFree(updated);
    LocalFree(descriptor);
    ClosePrinter(printer);
    const auto written = Spool().Snapshot();

    Platform::GetMachine().Reset();
    Platform::LoadMachine(folder);
    EXPECT_EQ(Spool().Snapshot(), written);
    EXPECT_TRUE(Spool().FindMonitor(u"Velmo wireless printer port"));
    EXPECT_EQ(Spool().FindPort(u"WLP001:"), (PortEntry{u"WLP001:", 0x3B7D, 0x410A, u"{guid}", u"ptp://host:1234"}));
    const auto queue = Spool().FindPrinter(u"Velmo");
    ASSERT_TRUE(queue);
    EXPECT_EQ(queue->access,
              (std::vector<Platform::AccessEntry>{{u"EVERYONE", 0x1FFFFF, GRANT_ACCESS, OBJECT_INHERIT_ACE}}));
    Platform::GetMachine().Reset();
    std::filesystem::remove_all(folder);
}

}  // namespace
