#include "Platform/Machine.h"
#include "Platform/Spooler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Platform::RegValue;

class Spooler : public ::testing::Test {
protected:
    Spooler() {
        Spool().AddPrinter(u"Velmo HV7300", u"USB001", u"Velmo HV7300 Driver");
        Spool().SetPrinterData(u"Velmo HV7300", Platform::kPrinterDriverDataKey, u"CC_INDEX", RegValue::Dword(2));
        Spool().SetPrinterData(u"Velmo HV7300", Platform::kPrinterDriverDataKey, u"CC_FILTER",
                               RegValue::String(u"ORVDynCC.dll"));
    }

    Platform::PrintSpooler& Spool() { return Platform::GetMachine().Spooler(); }

    HANDLE Open(const char16_t* name, ACCESS_MASK access) {
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
        HANDLE printer = reinterpret_cast<HANDLE>(1);
        if (!OpenPrinterW(name, &printer, &defaults)) {
            EXPECT_EQ(printer, nullptr);
            return nullptr;
        }
        return printer;
    }

    Platform::ScopedFreshMachine machine_;
};

TEST_F(Spooler, OpenAccessRightsAndHandleCounts) {
    EXPECT_EQ(Open(u"No such printer", PRINTER_ACCESS_USE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);

    HANDLE admin = Open(u"velmo hv7300", PRINTER_ALL_ACCESS);  // names ignore case
    ASSERT_NE(admin, nullptr);
    HANDLE plain = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Velmo HV7300", &plain, nullptr));  // no defaults: use access
    EXPECT_EQ(Spool().OpenPrinterHandleCount(), 2u);

    Platform::GetMachine().SetUserIsAdministrator(false);
    EXPECT_EQ(Open(u"Velmo HV7300", PRINTER_ACCESS_ADMINISTER), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(u"Velmo HV7300", PRINTER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE user = Open(u"Velmo HV7300", PRINTER_ACCESS_USE);
    ASSERT_NE(user, nullptr);
    HANDLE most = Open(u"Velmo HV7300", MAXIMUM_ALLOWED);
    ASSERT_NE(most, nullptr);
    const BYTE one[4] = {1, 0, 0, 0};
    EXPECT_EQ(SetPrinterDataW(most, u"PIN_STICKY", REG_DWORD, one, 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Spool().OpenPrinterHandleCount(), 4u);

    for (HANDLE h : {admin, plain, user, most}) EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FALSE(ClosePrinter(admin));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Spool().OpenPrinterHandleCount(), 0u);
}

TEST_F(Spooler, PrinterDataSizeProtocol) {
    HANDLE printer = Open(u"Velmo HV7300", PRINTER_ACCESS_USE);
    ASSERT_NE(printer, nullptr);
    const DWORD full = (12 + 1) * sizeof(WCHAR);

    DWORD type = 0;
    DWORD needed = 0;
    EXPECT_EQ(GetPrinterDataW(printer, u"CC_FILTER", &type, nullptr, 0, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(needed, full);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    std::vector<BYTE> buffer(full, 0xEE);
    needed = 0;
    EXPECT_EQ(GetPrinterDataW(printer, u"CC_FILTER", nullptr, buffer.data(), full - 1, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(needed, full);
    EXPECT_EQ(buffer[0], 0xEE);  // untouched
    EXPECT_EQ(GetPrinterDataW(printer, u"cc_filter", nullptr, buffer.data(), full, &needed), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data())), u"ORVDynCC.dll");

    // The key-less calls are the "PrinterDriverData" key.
    DWORD index = 0;
    EXPECT_EQ(GetPrinterDataExW(printer, u"printerdriverdata", u"CC_INDEX", &type, reinterpret_cast<BYTE*>(&index), 4,
                                &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    EXPECT_EQ(GetPrinterDataW(printer, u"PIN_VALUE", &type, buffer.data(), full, &needed), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetPrinterDataExW(printer, u"Other", u"CC_INDEX", &type, buffer.data(), full, &needed),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetPrinterDataW(printer, u"CC_FILTER", &type, buffer.data(), full, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetPrinterDataExW(printer, u"", u"CC_INDEX", &type, buffer.data(), full, &needed),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetPrinterDataW(reinterpret_cast<HANDLE>(0x99), u"CC_FILTER", &type, buffer.data(), full, &needed),
              ERROR_INVALID_HANDLE);
    ClosePrinter(printer);
}

TEST_F(Spooler, QueueSettingsUnderTheRootKey) {
    HANDLE printer = Open(u"Velmo HV7300", PRINTER_ACCESS_USE);
    ASSERT_NE(printer, nullptr);
    BYTE buffer[64] = {};
    DWORD type = 0;
    DWORD needed = 0;
    ASSERT_EQ(GetPrinterDataExW(printer, u"\\", u"Port", &type, buffer, sizeof buffer, &needed), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(needed, 14u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"USB001");
    ASSERT_EQ(GetPrinterDataExW(printer, u"\\", u"Printer Driver", &type, buffer, sizeof buffer, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"Velmo HV7300 Driver");
    ClosePrinter(printer);

    // They change with the queue, and cannot be set as data.
    printer = Open(u"Velmo HV7300", PRINTER_ACCESS_ADMINISTER);
    const BYTE port[] = {'I', 0, 'P', 0, 0, 0};
    EXPECT_EQ(SetPrinterDataExW(printer, u"\\", u"Port", REG_SZ, port, sizeof port), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetPrinterDataExW(printer, u"\\", u"Own", REG_SZ, port, sizeof port), ERROR_SUCCESS);
    EXPECT_EQ(Spool().GetPrinterData(u"Velmo HV7300", u"\\", u"own"), (RegValue{REG_SZ, {'I', 0, 'P', 0, 0, 0}}));
    EXPECT_THROW(Spool().SetPrinterData(u"Velmo HV7300", u"\\", u"PORT", RegValue::String(u"x")),
                 std::invalid_argument);
    ClosePrinter(printer);
}

TEST_F(Spooler, SettingDataNeedsAnAdministeringHandle) {
    HANDLE user = Open(u"Velmo HV7300", PRINTER_ACCESS_USE);
    HANDLE admin = Open(u"Velmo HV7300", PRINTER_ACCESS_ADMINISTER);
    ASSERT_NE(user, nullptr);
    ASSERT_NE(admin, nullptr);
    const char16_t text[] = u"Natural";  // stored without its zero, as the plug-ins write it
    const DWORD bytes = 7 * sizeof(WCHAR);
    EXPECT_EQ(SetPrinterDataW(user, u"CC_FILTER_DATA", REG_SZ, reinterpret_cast<const BYTE*>(text), bytes),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetPrinterDataW(admin, u"CC_FILTER_DATA", REG_SZ, reinterpret_cast<const BYTE*>(text), bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(SetPrinterDataW(admin, u"CC_FILTER_DATA", REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);

    // Another handle reads exactly what was stored.
    DWORD needed = 0;
    BYTE buffer[32] = {};
    EXPECT_EQ(GetPrinterDataW(user, u"CC_FILTER_DATA", nullptr, buffer, sizeof buffer, &needed), ERROR_SUCCESS);
    EXPECT_EQ(needed, bytes);
    EXPECT_EQ(std::memcmp(buffer, text, bytes), 0);
    const auto stored = Spool().GetPrinterData(u"VELMO HV7300", u"PrinterDriverData", u"cc_filter_data");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Text(), u"Natural");

    // A queue removed under open handles.
    EXPECT_TRUE(Spool().RemovePrinter(u"Velmo HV7300"));
    EXPECT_EQ(GetPrinterDataW(user, u"CC_FILTER_DATA", nullptr, buffer, sizeof buffer, &needed), ERROR_PRINTER_DELETED);
    EXPECT_EQ(SetPrinterDataW(admin, u"CC_FILTER_DATA", REG_SZ, reinterpret_cast<const BYTE*>(text), bytes),
              ERROR_PRINTER_DELETED);
    EXPECT_TRUE(ClosePrinter(user));
    EXPECT_TRUE(ClosePrinter(admin));
}

TEST_F(Spooler, GetPrinterLevels) {
    HANDLE printer = Open(u"Velmo HV7300", PRINTER_ACCESS_USE);
    ASSERT_NE(printer, nullptr);
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterW(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(needed, sizeof(PRINTER_INFO_2W));
    std::vector<BYTE> buffer(needed - 1);
    EXPECT_FALSE(GetPrinterW(printer, 2, buffer.data(), needed - 1, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    // The strings live in the caller's buffer, after the record.
    alignas(PRINTER_INFO_2W) BYTE storage[1024];
    ASSERT_TRUE(GetPrinterW(printer, 2, storage, sizeof storage, &needed));
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(storage);
    EXPECT_EQ(std::u16string(info->pPrinterName), u"Velmo HV7300");
    EXPECT_EQ(std::u16string(info->pPortName), u"USB001");
    EXPECT_EQ(std::u16string(info->pDriverName), u"Velmo HV7300 Driver");
    EXPECT_EQ(std::u16string(info->pPrintProcessor), u"winprint");
    EXPECT_EQ(info->Attributes, PRINTER_ATTRIBUTE_LOCAL);
    EXPECT_EQ(info->pServerName, nullptr);
    for (const WCHAR* text : {info->pPrinterName, info->pPortName, info->pDriverName, info->pPrintProcessor}) {
        const auto* at = reinterpret_cast<const BYTE*>(text);
        EXPECT_GE(at, storage + sizeof(PRINTER_INFO_2W));
        EXPECT_LT(at, storage + needed);
    }

    alignas(PRINTER_INFO_4W) BYTE small[256];
    ASSERT_TRUE(GetPrinterW(printer, 4, small, sizeof small, &needed));
    EXPECT_EQ(std::u16string(reinterpret_cast<const PRINTER_INFO_4W*>(small)->pPrinterName), u"Velmo HV7300");
    EXPECT_FALSE(GetPrinterW(printer, 1, small, sizeof small, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    ClosePrinter(printer);
}

TEST_F(Spooler, FixtureRejectsBadQueues) {
    EXPECT_THROW(Spool().AddPrinter(u"VELMO HV7300", u"USB002", u"x"), std::invalid_argument);
    EXPECT_THROW(Spool().AddPrinter(u"a,b", u"USB002", u"x"), std::invalid_argument);
    EXPECT_THROW(Spool().AddPrinter(u"a\\b", u"USB002", u"x"), std::invalid_argument);
    EXPECT_THROW(Spool().AddPrinter(u"", u"USB002", u"x"), std::invalid_argument);
    EXPECT_THROW(Spool().AddPrinter(std::u16string(221, u'p'), u"USB002", u"x"), std::invalid_argument);
    EXPECT_THROW(Spool().SetPrinterData(u"Nobody", u"PrinterDriverData", u"x", RegValue::Dword(1)),
                 std::invalid_argument);
    EXPECT_EQ(Spool().PrinterNames(), (std::vector<std::u16string>{u"Velmo HV7300"}));
}

}  // namespace
