#include "Platform/PrintMonitor.h"

#include "Platform/Machine.h"
#include "Platform/Spooler.h"
#include "Platform/Usb.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Platform::GetMachine;

class PrintMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto nodes = GetMachine().Devices().AddHostController(2);
        Platform::UsbPrinterIdentity identity;
        identity.vendorId = 0x3B7D;
        identity.productId = 0x410F;
        identity.product = u"Dock";
        identity.serialNumber = u"SN1";
        printer = GetMachine().Devices().AttachUsbPrinter(nodes.rootHub, 2, identity);
        GetMachine().Spooler().AddPrinter(u"Dock", u"USB001", u"Velmo Dock");
    }

    Platform::ScopedFreshMachine machine;
    std::shared_ptr<Platform::UsbPrinterModel> printer;
};

TEST_F(PrintMonitorTest, UsbPortReachesThePrinter) {
    const MONITOR& monitor = Platform::UsbPortMonitor();
    HANDLE port = nullptr;
    std::u16string missing = u"USB002", name = u"USB001";
    EXPECT_FALSE(monitor.pfnOpenPort(missing.data(), &port));
    ASSERT_TRUE(monitor.pfnOpenPort(name.data(), &port));

    BYTE data[] = {1, 2, 3, 4, 5};
    DWORD count = 0;
    EXPECT_TRUE(monitor.pfnWritePort(port, data, sizeof data, &count));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(printer->TakeReceived(), std::vector<BYTE>(data, data + 5));

    printer->Deliver({9, 8, 7});
    BYTE in[12] = {};
    EXPECT_TRUE(monitor.pfnReadPort(port, in, sizeof in, &count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(in[0], 9);

    // The id comes back as text, without the length in front of it.
    const std::string id = "MFG:Velmo;MDL:Dock;";
    printer->SetDeviceId(std::string{0, static_cast<char>(id.size() + 2)} + id);
    char text[64];
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(monitor.pfnGetPrinterDataFromPort(port, IOCTL_USBPRINT_GET_1284_ID, nullptr, nullptr, 0,
                                                  reinterpret_cast<LPWSTR>(text), sizeof text, &count));
    EXPECT_EQ(count, id.size());
    EXPECT_STREQ(text, id.c_str());
    std::u16string value = u"DEVICE_ID";
    EXPECT_FALSE(monitor.pfnGetPrinterDataFromPort(port, 0, value.data(), nullptr, 0, reinterpret_cast<LPWSTR>(text),
                                                   sizeof text, &count));

    EXPECT_TRUE(monitor.pfnClosePort(port));
    EXPECT_FALSE(monitor.pfnWritePort(port, data, sizeof data, &count));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PrintMonitorTest, MissingMonitorLibraryThrows) {
    EXPECT_THROW(Platform::LoadedPrintMonitor(u"NoSuchMonitor.dll"), std::runtime_error);
}

class SpoolerJobTest : public PrintMonitorTest {
protected:
    void SetUp() override {
        PrintMonitorTest::SetUp();
        GetMachine().Spooler().AddPrinter(u"Other", u"USB002", u"Velmo Dock");
        job = GetMachine().Spooler().AddJob(u"Dock", u"photo");
        ASSERT_TRUE(OpenPrinterW(u"dock", &queue, nullptr));
    }
    void TearDown() override { ClosePrinter(queue); }

    std::vector<BYTE> Read(DWORD level) {
        DWORD needed = 0;
        EXPECT_FALSE(GetJobW(queue, job, level, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> record(needed);
        EXPECT_TRUE(GetJobW(queue, job, level, record.data(), needed, &needed));
        return record;
    }

    DWORD job = 0;
    HANDLE queue = nullptr;
};

TEST_F(SpoolerJobTest, JobRecordsAndStatusChanges) {
    auto record = Read(1);
    JOB_INFO_1W one;
    std::memcpy(&one, record.data(), sizeof one);
    EXPECT_EQ(one.JobId, job);
    EXPECT_EQ(std::u16string(one.pDocument), u"photo");
    EXPECT_EQ(one.pStatus, nullptr);
    std::u16string text = u"Paper out";
    one.Status = JOB_STATUS_ERROR;
    one.pStatus = text.data();
    EXPECT_TRUE(SetJobW(queue, job, 1, reinterpret_cast<LPBYTE>(&one), 0));

    record = Read(2);
    JOB_INFO_2W two;
    std::memcpy(&two, record.data(), sizeof two);
    EXPECT_EQ(two.Status, JOB_STATUS_ERROR);
    EXPECT_EQ(std::u16string(two.pStatus), text);
    EXPECT_EQ(std::u16string(two.pDriverName), u"Velmo Dock");
    two.PagesPrinted = 3;
    two.pStatus = nullptr;
    EXPECT_TRUE(SetJobW(queue, job, 2, reinterpret_cast<LPBYTE>(&two), 0));
    const auto kept = GetMachine().Spooler().FindJob(job);
    EXPECT_EQ(kept->pagesPrinted, 3u);
    EXPECT_FALSE(kept->statusText);

    const auto changes = GetMachine().Spooler().JobChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].level, 1u);
    EXPECT_EQ(changes[0].statusText, text);
    EXPECT_EQ(changes[1].pagesPrinted, 3u);
}

TEST_F(SpoolerJobTest, CommandsEndTheJobAndForeignJobsAreRefused) {
    HANDLE other = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Other", &other, nullptr));
    EXPECT_FALSE(SetJobW(other, job, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ClosePrinter(other);
    EXPECT_FALSE(SetJobW(queue, job, 0, nullptr, 1));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(SetJobW(queue, job, 1, nullptr, 0));
    EXPECT_TRUE(SetJobW(queue, job, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED));
    EXPECT_FALSE(GetMachine().Spooler().FindJob(job));
    EXPECT_FALSE(SetJobW(queue, job, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_EQ(GetMachine().Spooler().JobChanges().back().command, JOB_CONTROL_LAST_PAGE_EJECTED);
}

TEST_F(SpoolerJobTest, ValuesNotStoredComeFromTheLanguageMonitor) {
    std::u16string asked;
    GetMachine().Spooler().SetLanguageMonitor(u"Dock", [&](LPCWSTR name, LPBYTE out, DWORD size, DWORD& returned) {
        asked = name;
        const std::u16string answer = u"MFG:Velmo;";
        const DWORD bytes = static_cast<DWORD>((answer.size() + 1) * 2);
        if (size < bytes) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(out, answer.c_str(), bytes);
        returned = bytes;
        return TRUE;
    });
    BYTE data[64];
    DWORD type = 0, needed = 0;
    EXPECT_EQ(GetPrinterDataW(queue, u"DEVICE_ID", &type, data, sizeof data, &needed), ERROR_SUCCESS);
    EXPECT_EQ(asked, u"DEVICE_ID");
    EXPECT_EQ(needed, 22u);
    EXPECT_EQ(GetPrinterDataW(queue, u"DEVICE_ID", &type, data, 4, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(GetPrinterDataW(queue, u"CC_INDEX", &type, data, sizeof data, &needed), ERROR_FILE_NOT_FOUND);

    // A stored value wins.
    GetMachine().Spooler().SetPrinterData(u"Dock", u"PrinterDriverData", u"DEVICE_ID",
                                          Platform::RegValue::String(u"X"));
    asked.clear();
    EXPECT_EQ(GetPrinterDataW(queue, u"DEVICE_ID", &type, data, sizeof data, &needed), ERROR_SUCCESS);
    EXPECT_TRUE(asked.empty());
}

}  // namespace
