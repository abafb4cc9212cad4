#include "Platform/Icm.h"
#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Platform/SetupApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace Platform;

namespace {

DriverPackage Package() {
    return {u"Velmo HV7300",
            u"C:\\Windows\\INF\\oem3.inf",
            u"HV7300.NT",
            {u"USBPRINT\\VelmoHV73001234"},
            {u"C:\\Windows\\System32\\spool\\DRIVERS\\COLOR\\HV Gloss.ICM", u"C:\\Windows\\System32\\hv.dll"}};
}

SP_DEVINFO_DATA Record() {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    return data;
}

SP_DEVINFO_DATA CreateNode(HDEVINFO list) {
    auto data = Record();
    EXPECT_TRUE(SetupDiCreateDeviceInfoW(list, u"Printers", &GUID_DEVCLASS_PRINTER, u"HV7300", nullptr,
                                         DICD_GENERATE_ID, &data));
    return data;
}

void SetIds(HDEVINFO list, SP_DEVINFO_DATA& data, const std::u16string& multi) {
    EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyW(list, &data, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(multi.data()),
                                                  static_cast<DWORD>(multi.size() * sizeof(WCHAR))));
}

std::u16string InstanceId(DEVINST node) {
    WCHAR buffer[64] = {};
    EXPECT_EQ(CM_Get_Device_IDW(node, buffer, 64, 0), CR_SUCCESS);
    return buffer;
}

UINT CollectFile(void* context, UINT notification, UINT_PTR param1, UINT_PTR) {
    EXPECT_EQ(notification, SPFILENOTIFY_QUEUESCAN);
    static_cast<std::vector<std::u16string>*>(context)->push_back(reinterpret_cast<const WCHAR*>(param1));
    return 0;
}

UINT StopScan(void*, UINT, UINT_PTR, UINT_PTR) {
    return 1234;
}

}  // namespace

TEST(DeviceInstall, RegisteredNodesGetGeneratedIdsAndLeaveWhenRemoved) {
    ScopedFreshMachine machine;
    const auto before = GetMachine().Devices().NodeCount();
    HDEVINFO list = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PRINTER, nullptr);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    auto first = CreateNode(list);
    auto second = CreateNode(list);
    // Created but not registered: not in the tree yet.
    DEVINST found = 0;
    EXPECT_EQ(CM_Locate_DevNodeW(&found, u"ROOT\\PRINTER\\0000", CM_LOCATE_DEVNODE_PHANTOM), CR_NO_SUCH_DEVNODE);
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list, &first));
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list, &second));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list, &first));
    EXPECT_EQ(GetLastError(), ERROR_DEVINST_ALREADY_EXISTS);
    ASSERT_EQ(CM_Locate_DevNodeW(&found, u"root\\printer\\0001", CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
    EXPECT_EQ(found, second.DevInst);
    EXPECT_EQ(InstanceId(first.DevInst), u"ROOT\\PRINTER\\0000");
    EXPECT_EQ(GetMachine().Devices().NodeCount(), before + 2);

    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, list, &first));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, list, &first));
    EXPECT_EQ(CM_Locate_DevNodeW(&found, u"ROOT\\PRINTER\\0000", CM_LOCATE_DEVNODE_PHANTOM), CR_NO_SUCH_DEVNODE);
    // The freed id is given out again.
    auto third = CreateNode(list);
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list, &third));
    EXPECT_EQ(InstanceId(third.DevInst), u"ROOT\\PRINTER\\0000");
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(GetMachine().Devices().OpenDeviceInfoListCount(), 0u);
    EXPECT_EQ(CM_Locate_DevNodeW(&found, nullptr, 0), CR_SUCCESS);
    EXPECT_EQ(CM_Locate_DevNodeW(nullptr, nullptr, 0), CR_INVALID_POINTER);
    EXPECT_EQ(CM_Locate_DevNodeW(&found, nullptr, 0x80), CR_INVALID_FLAG);
}

TEST(DeviceInstall, ClassDescriptionFollowsTheSizeProtocol) {
    ScopedFreshMachine machine;
    DWORD needed = 0;
    EXPECT_FALSE(SetupDiGetClassDescriptionW(&GUID_DEVCLASS_PRINTER, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, 9u);
    std::vector<WCHAR> buffer(needed);
    ASSERT_TRUE(SetupDiGetClassDescriptionW(&GUID_DEVCLASS_PRINTER, buffer.data(), needed, nullptr));
    EXPECT_EQ(std::u16string(buffer.data()), u"Printers");
    const GUID unknown{1, 2, 3, {4}};
    EXPECT_FALSE(SetupDiGetClassDescriptionW(&unknown, buffer.data(), needed, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CLASS);
}

TEST(DeviceInstall, SelectsTheFirstCompatibleDriverAndDescribesIt) {
    ScopedFreshMachine machine;
    auto other = Package();
    other.description = u"Generic";
    other.hardwareIds = {u"USBPRINT\\Other"};
    GetMachine().Drivers().Install(other);
    GetMachine().Drivers().Install(Package());
    auto second = Package();
    second.description = u"Velmo HV7300 (older)";
    GetMachine().Drivers().Install(second);

    HDEVINFO list = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PRINTER, nullptr);
    auto node = CreateNode(list);
    SetIds(list, node, std::u16string(u"USBPRINT\\NoSuch\0usbprint\\velmohv73001234\0\0", 41));
    SP_DRVINFO_DATA_W driver{};
    driver.cbSize = sizeof driver;
    EXPECT_FALSE(SetupDiGetSelectedDriverW(list, &node, &driver));
    EXPECT_EQ(GetLastError(), ERROR_NO_DRIVER_SELECTED);
    ASSERT_TRUE(SetupDiBuildDriverInfoList(list, &node, SPDIT_COMPATDRIVER));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, list, &node));
    ASSERT_TRUE(SetupDiGetSelectedDriverW(list, &node, &driver));
    EXPECT_EQ(std::u16string(driver.Description), u"Velmo HV7300");

    DWORD needed = 0;
    SP_DRVINFO_DETAIL_DATA_W small{};
    small.cbSize = sizeof small;
    EXPECT_FALSE(SetupDiGetDriverInfoDetailW(list, &node, &driver, &small, sizeof small, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(needed, sizeof small);
    std::vector<std::byte> buffer(needed);
    auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = needed;  // the fixed size is wanted, not the allocation's
    EXPECT_FALSE(SetupDiGetDriverInfoDetailW(list, &node, &driver, detail, needed, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    ASSERT_TRUE(SetupDiGetDriverInfoDetailW(list, &node, &driver, detail, needed, nullptr));
    EXPECT_EQ(std::u16string(detail->InfFileName), u"C:\\Windows\\INF\\oem3.inf");
    EXPECT_EQ(std::u16string(detail->SectionName), u"HV7300.NT");
    EXPECT_EQ(std::u16string(detail->DrvDescription), u"Velmo HV7300");
    EXPECT_EQ(std::u16string(detail->HardwareID), u"USBPRINT\\VelmoHV73001234");

    // No driver for the ids: nothing to select.
    auto lonely = CreateNode(list);
    SetIds(list, lonely, std::u16string(u"USBPRINT\\Nobody\0\0", 17));
    ASSERT_TRUE(SetupDiBuildDriverInfoList(list, &lonely, SPDIT_COMPATDRIVER));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, list, &lonely));
    EXPECT_EQ(GetLastError(), ERROR_NO_COMPAT_DRIVERS);
    SetupDiDestroyDeviceInfoList(list);
}

TEST(DeviceInstall, InfSectionQueuesThePackagesTargetFiles) {
    ScopedFreshMachine machine;
    GetMachine().Drivers().Install(Package());
    const auto handlesBefore = OpenInfHandleCount();
    EXPECT_EQ(SetupOpenInfFileW(u"C:\\Windows\\INF\\none.inf", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HINF inf = SetupOpenInfFileW(u"c:\\windows\\inf\\OEM3.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    HSPFILEQ queue = SetupOpenFileQueue();
    EXPECT_FALSE(SetupInstallFilesFromInfSectionW(inf, nullptr, queue, u"Other", nullptr, SP_COPY_NEWER_OR_SAME));
    EXPECT_EQ(GetLastError(), ERROR_SECTION_NOT_FOUND);
    ASSERT_TRUE(SetupInstallFilesFromInfSectionW(inf, nullptr, queue, u"HV7300.NT", nullptr, SP_COPY_NEWER_OR_SAME));
    std::vector<std::u16string> files;
    DWORD result = 99;
    ASSERT_TRUE(SetupScanFileQueueW(queue, SPQ_SCAN_USE_CALLBACK, nullptr, &CollectFile, &files, &result));
    EXPECT_EQ(files, Package().targetFiles);
    EXPECT_EQ(result, 0u);
    EXPECT_FALSE(SetupScanFileQueueW(queue, SPQ_SCAN_USE_CALLBACK, nullptr, &StopScan, nullptr, &result));
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_TRUE(SetupCloseFileQueue(queue));
    SetupCloseInfFile(inf);
    EXPECT_EQ(OpenInfHandleCount(), handlesBefore);
}

TEST(DeviceInstall, ProfilesAreAssociatedWithExistingQueuesOnly) {
    ScopedFreshMachine machine;
    EXPECT_FALSE(AssociateColorProfileWithDeviceW(nullptr, u"hv.icm", u"Nobody"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(AssociateColorProfileWithDeviceW(u"\\\\server", u"hv.icm", u"Nobody"));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    auto data = GetMachine().Spooler().Snapshot();
    PrinterQueue queue;
    queue.name = u"Velmo HV7300";
    data.printers[FoldName(queue.name)] = queue;
    GetMachine().Spooler().Replace(data);
    EXPECT_TRUE(AssociateColorProfileWithDeviceW(nullptr, u"hv.icm", u"velmo hv7300"));
    EXPECT_TRUE(AssociateColorProfileWithDeviceW(nullptr, u"hv.icm", u"velmo hv7300"));
    const auto profiles = GetMachine().Drivers().Snapshot().profiles;
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].profile, u"hv.icm");
}

TEST(DriverStoreText, RoundTripsAndRejectsMalformedFiles) {
    DriverStoreData data;
    data.drivers.push_back(Package());
    auto odd = Package();
    odd.description = u"Odd \"quoted\" \u00DC";
    odd.hardwareIds.clear();
    odd.targetFiles.clear();
    data.drivers.push_back(odd);
    data.profiles.push_back({u"HV Gloss.ICM", u"Velmo HV7300"});
    EXPECT_EQ(ParseDriverStoreText(FormatDriverStoreText(data), "drivers.txt"), data);

    using ::testing::HasSubstr;
    auto failure = [](const std::string& text) {
        try {
            ParseDriverStoreText(text, "drivers.txt");
        } catch (const MachineFileError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_THAT(failure("inf = \"a\"\n"), HasSubstr("drivers.txt:1: 'inf' before the first"));
    EXPECT_THAT(failure("[driver \"A\"]\ninf = \"a\"\n"), HasSubstr("needs an inf and a section"));
    EXPECT_THAT(failure("[driver \"A\"]\ninf = \"a\"\nsection = \"s\"\n[driver \"a\"]\n"), HasSubstr("twice"));
    EXPECT_THAT(failure("[driver \"A\"]\ninf = \"a\"\ninf = \"b\"\n"), HasSubstr("twice"));
    EXPECT_THAT(failure("[driver \"A\"]\ncolour = \"a\"\n"), HasSubstr("unknown driver setting"));
    EXPECT_THAT(failure("[driver \"A\"\n"), HasSubstr("']'"));
    EXPECT_THAT(failure("associate \"x.icm\"\n"), HasSubstr("the device"));
}
