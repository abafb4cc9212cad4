// The private settings block, the printer data values behind it and the
// DevMode handler.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/RodizuzUzezProperties.h"
#include "PluginTestSupport.h"
#include "PrivateDevMode.h"
#include "Tessary/TSException.h"

namespace {

using namespace PluginTest;

class PrintSettingsTest : public MachineFixture {
protected:
    PrintSettingsTest() {
        Platform::GetMachine().SetUserIsAdministrator(true);
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
        EXPECT_TRUE(OpenPrinterW(kQueue, &handle, &defaults));
    }
    ~PrintSettingsTest() override { ClosePrinter(handle); }

    std::string Stored(std::u16string_view name) {
        const auto value = Spooler().GetPrinterData(kQueue, Platform::kPrinterDriverDataKey, name);
        return value ? std::string(value->data.begin(), value->data.end()) : std::string("(none)");
    }

    HANDLE handle = nullptr;
};

TEST_F(PrintSettingsTest, DefaultsComeFromThePrinterModel) {
    struct Case {
        const char* deviceId;  // null: the printer does not answer
        int index;
        int indexResult;
        const char* filterData;
        int filterDataResult;
    };
    const Case cases[] = {
        {nullptr, 0, -1, "Natural", -1},
        // The dock's default "natural" is the second of mono, natural, vivid.
        {kDockId, 1, 0, "natural", 0},
        // Photo 6 Studio defaults to "vivid" on head P6.
        {"MFG:Velmo;MDL:Glimmer Photo 6 Studio;PHD:P6;", 2, 0, "vivid", 0},
        {"MFG:Velmo;MDL:Unknown Thing;", 0, -1, "Natural", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deviceId ? c.deviceId : "(no id)");
        if (c.deviceId) SetDeviceId(c.deviceId);
        RodizuzUzezProperties queue(handle);
        int index = 99;
        EXPECT_EQ(queue.GetCCIndex(&index), c.indexResult);
        EXPECT_EQ(index, c.index);
        char filter[64];
        EXPECT_EQ(queue.GetCCFilter(filter, sizeof filter), static_cast<int>(ERROR_FILE_NOT_FOUND));
        EXPECT_STREQ(filter, "ORVDynCC.dll");
        char data[256];
        EXPECT_EQ(queue.GetCCFilterData(data, sizeof data), c.filterDataResult);
        EXPECT_STREQ(data, c.filterData);
        int sticky = 5;
        unsigned pin = 5;
        EXPECT_NE(queue.GetPinSticky(&sticky), 0);
        EXPECT_NE(queue.GetPinValue(&pin), 0);
        EXPECT_EQ(sticky, 0);
        EXPECT_EQ(pin, 0u);
    }
}

TEST_F(PrintSettingsTest, HeadThatIsNotDescribedThrows) {
    SetDeviceId("MFG:Velmo;MDL:Glimmer Dock;PHD:NOPE;");
    RodizuzUzezProperties queue(handle);
    char data[256];
    EXPECT_THROW(queue.GetCCFilterData(data, sizeof data), Tessary::TSException);
}

TEST_F(PrintSettingsTest, ValuesRoundTripAsTheSpoolerStoresThem) {
    RodizuzUzezProperties queue(handle);
    EXPECT_EQ(queue.SetCCIndex(3), 0);
    EXPECT_EQ(queue.SetCCFilter("Filtre \xC3\xA9t\xC3\xA9.dll"), 0);
    EXPECT_EQ(queue.SetCCFilterData("vivid"), 0);
    EXPECT_EQ(queue.SetPinSticky(1), 0);
    EXPECT_EQ(queue.SetPinValue(-1), 0);
    // Text: UTF-16 without the terminating zero; numbers: four bytes.
    EXPECT_EQ(Stored(u"CC_FILTER_DATA"), std::string("v\0i\0v\0i\0d\0", 10));
    EXPECT_EQ(Stored(u"CC_INDEX"), std::string("\3\0\0\0", 4));
    int index = 0, sticky = 0;
    unsigned pin = 0;
    char filter[64], data[256];
    EXPECT_EQ(queue.GetCCIndex(&index), 0);
    EXPECT_EQ(queue.GetCCFilter(filter, sizeof filter), 0);
    EXPECT_EQ(queue.GetCCFilterData(data, sizeof data), 0);
    EXPECT_EQ(queue.GetPinSticky(&sticky), 0);
    EXPECT_EQ(queue.GetPinValue(&pin), 0);
    EXPECT_EQ(index, 3);
    EXPECT_STREQ(filter, "Filtre \xC3\xA9t\xC3\xA9.dll");
    EXPECT_STREQ(data, "vivid");
    EXPECT_EQ(sticky, 1);
    EXPECT_EQ(pin, 0xFFFFFFFFu);
    // A small buffer is cut on a character boundary.
    char small[10];
    queue.GetCCFilter(small, sizeof small);
    EXPECT_STREQ(small, "Filtre \xC3\xA9");
    char tiny[9];
    queue.GetCCFilter(tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "Filtre ");
}

TEST_F(PrintSettingsTest, WithoutHandleOrOutArgument) {
    RodizuzUzezProperties none(static_cast<HANDLE>(nullptr));
    char text[16];
    int value = 0;
    unsigned pin = 0;
    EXPECT_EQ(none.GetDeviceID(text, sizeof text), -1);
    EXPECT_EQ(none.GetCCFilter(text, sizeof text), -1);
    EXPECT_STREQ(text, "ORVDynCC.dll");
    EXPECT_EQ(none.GetPinSticky(&value), -1);
    EXPECT_EQ(none.GetPinValue(&pin), -1);
    EXPECT_EQ(none.SetCCIndex(1), -1);
    EXPECT_EQ(none.SetCCFilter("x"), -1);
    RodizuzUzezProperties queue(handle);
    EXPECT_EQ(queue.GetCCIndex(nullptr), -1);
    EXPECT_EQ(queue.GetPinSticky(nullptr), -1);
    EXPECT_EQ(queue.GetPinValue(nullptr), -1);
    EXPECT_EQ(queue.GetDeviceID(nullptr, 10), -1);
    EXPECT_EQ(queue.SetCCFilterData(nullptr), -1);
    // An ordinary user cannot write the queue's values.
    Platform::GetMachine().SetUserIsAdministrator(false);
    HANDLE user = nullptr;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
    ASSERT_TRUE(OpenPrinterW(kQueue, &user, &defaults));
    RodizuzUzezProperties used(user);
    EXPECT_EQ(used.SetCCIndex(1), static_cast<int>(ERROR_ACCESS_DENIED));
    ClosePrinter(user);
}

TEST_F(PrintSettingsTest, DeviceIdIsCutAndAlwaysTerminated) {
    RodizuzUzezProperties queue(handle);
    // 450 units fill the 900-byte read exactly, with no terminator.
    const std::string full(450, 'A');
    SetDeviceId(full);
    std::vector<char> buffer(1000, 'x');
    EXPECT_EQ(queue.GetDeviceID(buffer.data(), 1000), 0);
    EXPECT_EQ(std::strlen(buffer.data()), 450u);
    EXPECT_EQ(queue.GetDeviceID(buffer.data(), 255), 0);
    EXPECT_EQ(std::strlen(buffer.data()), 254u);
    // More than the read can take is the spooler's error.
    SetDeviceId(std::string(451, 'A'));
    EXPECT_EQ(queue.GetDeviceID(buffer.data(), 1000), static_cast<int>(ERROR_MORE_DATA));
    EXPECT_EQ(buffer[0], 0);
    // A character is never split at the cut.
    Set(u"DEVICE_ID", Text(u"MFG:\u00E9\u00E9"));
    char cut[7];
    EXPECT_EQ(queue.GetDeviceID(cut, sizeof cut), 0);
    EXPECT_STREQ(cut, "MFG:\xC3\xA9");
}

TEST_F(PrintSettingsTest, PinIsKeptOnlyWhenSticky) {
    struct Case {
        int sticky;  // -1: absent
        DWORD stored;
        DWORD pin;
    };
    for (const Case c : {Case{-1, 1234, 0}, Case{0, 1234, 0}, Case{1, 1234, 1234}, Case{2, 1234, 0}}) {
        if (c.sticky >= 0) Set(u"PIN_STICKY", Platform::RegValue::Dword(static_cast<DWORD>(c.sticky)));
        Set(u"PIN_VALUE", Platform::RegValue::Dword(c.stored));
        std::vector<BYTE> block(kPrivateDevModeSize, 0xEE);
        OEM_DMPARAM param{sizeof param,       nullptr, handle, nullptr, nullptr, nullptr, nullptr, block.data(),
                          kPrivateDevModeSize};
        ASSERT_EQ(OEMDevMode(OEMDM_DEFAULT, &param), S_OK);
        EXPECT_EQ(PrivateDevMode::Read(block.data()).pin, c.pin) << "sticky " << c.sticky;
    }
}

class DevModeTest : public PrintSettingsTest {};

TEST_F(DevModeTest, BlockLayoutByteForByte) {
    PrivateDevMode mode;
    mode.ccIndex = -2;
    std::strcpy(mode.ccFilter, "F");
    std::strcpy(mode.ccFilterData, "D");
    mode.pin = 0x01020304;
    std::vector<BYTE> block(kPrivateDevModeSize, 0xEE);
    mode.Write(block.data());
    const std::vector<BYTE> head(block.begin(), block.begin() + 17);
    EXPECT_EQ(head, (std::vector<BYTE>{0x54, 0x01, 0, 0, 0x56, 0x4C, 0, 0, 1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 'F'}));
    EXPECT_EQ(block[80], 'D');
    EXPECT_EQ(block[81], 0);
    EXPECT_EQ(std::vector<BYTE>(block.begin() + 336, block.end()), (std::vector<BYTE>{4, 3, 2, 1}));
    // Text fields without a terminator are read terminated.
    std::memset(block.data() + 16, 'x', 64 + 256);
    const PrivateDevMode read = PrivateDevMode::Read(block.data());
    EXPECT_EQ(std::strlen(read.ccFilter), 63u);
    EXPECT_EQ(std::strlen(read.ccFilterData), 255u);
}

TEST_F(DevModeTest, SizeDefaultsAndBadRequests) {
    OEM_DMPARAM param{};
    param.cbSize = sizeof param;
    EXPECT_EQ(OEMDevMode(OEMDM_SIZE, &param), S_OK);
    EXPECT_EQ(param.cbBufSize, 340u);
    for (DWORD mode : {0u, 5u, 99u}) {
        SetLastError(0);
        EXPECT_EQ(OEMDevMode(mode, &param), E_FAIL);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    SetLastError(0);
    EXPECT_EQ(OEMDevMode(OEMDM_SIZE, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // Defaults: by the document's device name, else by the driver's handle
    // (a name of 32 characters or more cannot name the queue).
    SetDeviceId(kDockId);
    Set(u"CC_FILTER", Text(u"Mine.dll"));
    for (bool longName : {false, true}) {
        DEVMODEW document{};
        const std::u16string name = longName ? std::u16string(40, u'Q') : std::u16string(kQueue);
        std::memcpy(document.dmDeviceName, name.data(), std::min<std::size_t>(name.size(), 32) * 2);
        std::vector<BYTE> block(kPrivateDevModeSize, 0xEE);
        param = OEM_DMPARAM{sizeof param, nullptr, handle, nullptr, &document, nullptr, nullptr, block.data(), 340};
        ASSERT_EQ(OEMDevMode(OEMDM_DEFAULT, &param), S_OK);
        EXPECT_EQ(param.cbBufSize, 340u);
        const PrivateDevMode mode = PrivateDevMode::Read(block.data());
        EXPECT_EQ(mode.size, 340u);
        EXPECT_EQ(mode.signature, 0x4C56u);
        EXPECT_EQ(mode.version, 1u);
        EXPECT_EQ(mode.ccIndex, 1);
        EXPECT_STREQ(mode.ccFilter, "Mine.dll");
        EXPECT_STREQ(mode.ccFilterData, "natural");
    }
    // A head lookup that fails leaves the filter data empty, nothing thrown.
    SetDeviceId("MFG:Velmo;MDL:Glimmer Dock;PHD:NOPE;");
    std::vector<BYTE> block(kPrivateDevModeSize, 0xEE);
    param = OEM_DMPARAM{sizeof param, nullptr, handle, nullptr, nullptr, nullptr, nullptr, block.data(), 340};
    EXPECT_EQ(OEMDevMode(OEMDM_DEFAULT, &param), S_OK);
    EXPECT_STREQ(PrivateDevMode::Read(block.data()).ccFilterData, "");
    // An output that cannot hold the block is refused.
    param.cbBufSize = 339;
    EXPECT_EQ(OEMDevMode(OEMDM_DEFAULT, &param), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(DevModeTest, ConvertAndMerge) {
    struct Block {
        DWORD size, signature;
        int ccIndex;
        const char* data;
    };
    struct Case {
        const char* what;
        DWORD mode;
        Block in, out;
        DWORD bufSize;
        HRESULT result;
        // What the output holds afterwards.
        DWORD signature;
        int ccIndex;
        const char* data;
    };
    const Case cases[] = {
        {"convert copies the signature too",
         OEMDM_CONVERT,
         {340, 0x1234, 2, "vivid"},
         {340, 0x4C56, 0, ""},
         340,
         S_OK,
         0x1234,
         2,
         "vivid"},
        {"merge stamps the signature",
         OEMDM_MERGE,
         {340, 0x1234, 2, "vivid"},
         {340, 0x4C56, 0, ""},
         340,
         S_OK,
         0x4C56,
         2,
         "vivid"},
        {"nothing chosen keeps the output",
         OEMDM_MERGE,
         {340, 0x4C56, 0, ""},
         {340, 0x4C56, 1, "mono"},
         340,
         S_OK,
         0x4C56,
         1,
         "mono"},
        {"a data reference alone is a choice",
         OEMDM_MERGE,
         {340, 0x4C56, 0, "mono"},
         {340, 0x4C56, 1, ""},
         340,
         S_OK,
         0x4C56,
         0,
         "mono"},
        {"a short input copies only its size",
         OEMDM_CONVERT,
         {16, 0x4C56, 5, ""},
         {340, 0x4C56, 1, "mono"},
         340,
         S_OK,
         0x4C56,
         5,
         "mono"},
        {"bogus sizes stop at the block",
         OEMDM_CONVERT,
         {0xFFFFFFFF, 7, 3, "x"},
         {100000, 0x4C56, 0, ""},
         340,
         S_OK,
         7,
         3,
         "x"},
        {"a buffer smaller than the block",
         OEMDM_CONVERT,
         {340, 7, 3, "x"},
         {340, 0x4C56, 0, ""},
         200,
         E_FAIL,
         0x4C56,
         0,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto make = [](const Block& b) {
            std::vector<BYTE> bytes(kPrivateDevModeSize + 16, 0xAB);  // guard bytes after the block
            PrivateDevMode mode;
            mode.size = b.size;
            mode.signature = b.signature;
            mode.ccIndex = b.ccIndex;
            std::strcpy(mode.ccFilterData, b.data);
            mode.Write(bytes.data());
            return bytes;
        };
        std::vector<BYTE> in = make(c.in), out = make(c.out);
        OEM_DMPARAM param{sizeof param, nullptr, handle, nullptr, nullptr, nullptr, in.data(), out.data(), c.bufSize};
        EXPECT_EQ(OEMDevMode(c.mode, &param), c.result);
        const PrivateDevMode result = PrivateDevMode::Read(out.data());
        if (c.result == S_OK) {
            EXPECT_EQ(result.size, 340u);
            EXPECT_EQ(result.version, 1u);
        }
        EXPECT_EQ(result.signature, c.signature);
        EXPECT_EQ(result.ccIndex, c.ccIndex);
        EXPECT_STREQ(result.ccFilterData, c.data);
        for (std::size_t i = kPrivateDevModeSize; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << "overrun at " << i;
    }
    // Missing blocks: nothing happens.
    OEM_DMPARAM param{sizeof param, nullptr, handle, nullptr, nullptr, nullptr, nullptr, nullptr, 340};
    EXPECT_EQ(OEMDevMode(OEMDM_MERGE, &param), S_OK);
}

}  // namespace
