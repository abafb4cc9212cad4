#include "Platform/Machine.h"
#include "Platform/Registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Platform::RegValue;

constexpr const char16_t* kVelmoKey = u"SOFTWARE\\Velmo\\HV7300";

class Registry : public ::testing::Test {
protected:
    Platform::SystemRegistry& Reg() { return Platform::GetMachine().Registry(); }
    void BecomeOrdinaryUser() { Platform::GetMachine().SetUserIsAdministrator(false); }

    Platform::ScopedFreshMachine machine_;
};

std::vector<BYTE> Utf16Bytes(std::u16string_view text) {
    std::vector<BYTE> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    return bytes;
}

TEST_F(Registry, QuerySizeProtocol) {
    Reg().SetString(HKEY_LOCAL_MACHINE, kVelmoKey, u"InstallPath", u"C:\\Velmo");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmoKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    const DWORD full = (8 + 1) * sizeof(WCHAR);  // the terminating zero counts

    // Size only.
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, full);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // Too small: the needed size comes back and the buffer is left alone.
    BYTE small[10];
    std::memset(small, 0xAB, sizeof small);
    size = sizeof small;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, &type, small, &size),
              static_cast<LSTATUS>(ERROR_MORE_DATA));
    EXPECT_EQ(size, full);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(small[0], 0xAB);

    // One byte short still does not fit; the exact size does.
    std::vector<BYTE> buffer(full, 0xCD);
    size = full - 1;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, buffer.data(), &size),
              static_cast<LSTATUS>(ERROR_MORE_DATA));
    size = full;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, full);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data())), u"C:\\Velmo");

    // A larger buffer: size becomes the value's.
    std::vector<BYTE> large(255, 0);
    size = 255;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, large.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, full);

    // Missing value, missing key, bad arguments.
    EXPECT_EQ(RegQueryValueExW(key, u"Nothing", nullptr, &type, nullptr, &size),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, large.data(), nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", &reserved, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nobody", 0, KEY_READ, &missing),
              static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, ValuesKeepTheirTypeAndExactBytes) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Marrowline\\Jorvale\\Parameters", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));

    const BYTE guid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const DWORD number = 0x01020304;
    const auto multi = RegValue::MultiString({u"one", u"two"});
    const auto expand = RegValue::String(u"%ProgramFiles%\\Velmo", REG_EXPAND_SZ);
    const auto unterminated = Utf16Bytes(u"ORVDynCC.dll");  // stored without its zero, as the plug-ins do
    ASSERT_EQ(RegSetValueExW(key, u"DeviceGUID", 0, REG_BINARY, guid, sizeof guid), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"List", 0, REG_MULTI_SZ, multi.data.data(), static_cast<DWORD>(multi.data.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(key, u"Path", 0, REG_EXPAND_SZ, expand.data.data(), static_cast<DWORD>(expand.data.size())),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Filter", 0, REG_SZ, unterminated.data(), static_cast<DWORD>(unterminated.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);  // the default value, empty

    auto read = [&](const char16_t* name) {
        DWORD type = 0;
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        RegValue value{type, std::vector<BYTE>(size)};
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, value.data.data(), &size), ERROR_SUCCESS);
        return value;
    };
    EXPECT_EQ(read(u"DeviceGUID"), RegValue::Binary(std::vector<BYTE>(guid, guid + 16)));
    EXPECT_EQ(read(u"Count"), RegValue::Dword(0x01020304));
    EXPECT_EQ(read(u"Count").AsDword(), 0x01020304u);
    EXPECT_EQ(read(u"List"), multi);
    EXPECT_EQ(read(u"Path"), expand);
    EXPECT_EQ(read(u"Filter"), (RegValue{REG_SZ, unterminated}));
    EXPECT_EQ(read(u"Filter").Text(), u"ORVDynCC.dll");
    EXPECT_EQ(read(u""), (RegValue{REG_SZ, {}}));

    // The fixture sees what the calls wrote; deleting removes it.
    EXPECT_EQ(Reg().GetValue(HKEY_LOCAL_MACHINE, u"Software\\Marrowline\\Jorvale\\Parameters", u"Count"),
              RegValue::Dword(0x01020304));
    EXPECT_EQ(RegDeleteValueW(key, u"Count"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"Count"), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Reg().GetValue(HKEY_LOCAL_MACHINE, u"Software\\Marrowline\\Jorvale\\Parameters", u"Count"));

    // A second create opens the existing key.
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Marrowline\\Jorvale\\Parameters", 0, nullptr, 0, KEY_READ,
                              nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);
    RegCloseKey(key);
}

TEST_F(Registry, OrdinaryUserCannotWriteMachineKeys) {
    Reg().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\Velmo Glimmerly software", u"QZTDHID", u"host-1");
    BecomeOrdinaryUser();

    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\Velmo Glimmerly software", 0, KEY_ALL_ACCESS, &key),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo", 0, KEY_WRITE, &key),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    // Creating is writing, even when only reading is asked for.
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Marrowline", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
        static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Reg().KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Marrowline"));

    // Open-or-create with write access falls back to reading.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo", 0, nullptr, 0,
                              KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, &key, nullptr),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\Velmo Glimmerly software", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"QZTDHID", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 14u);
    const BYTE data[] = {1, 0, 0, 0};
    EXPECT_EQ(RegSetValueExW(key, u"QZTDHID", 0, REG_DWORD, data, 4), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteValueW(key, u"QZTDHID"), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);

    // Through the predefined root directly, likewise.
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"X", 0, REG_DWORD, data, 4),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));

    // The user's own keys are writable.
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Velmo", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"Seen", 0, REG_DWORD, data, 4), ERROR_SUCCESS);
    RegCloseKey(key);

    // A handle does only what it was opened for, administrator or not.
    Platform::GetMachine().SetUserIsAdministrator(true);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\Velmo Glimmerly software", 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"QZTDHID", nullptr, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegSetValueExW(key, u"QZTDHID", 0, REG_DWORD, data, 4), ERROR_SUCCESS);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, u"Child", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
}

TEST_F(Registry, HandlesAreCountedAndNameTheirKey) {
    Reg().CreateKey(HKEY_LOCAL_MACHINE, kVelmoKey);
    EXPECT_EQ(Reg().OpenKeyCount(), 0u);
    HKEY a = nullptr;
    HKEY b = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmoKey, 0, KEY_READ, &a), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(a, nullptr, 0, KEY_READ, &b), ERROR_SUCCESS);  // the same key again
    EXPECT_NE(a, b);
    EXPECT_EQ(Reg().OpenKeyCount(), 2u);
    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(a), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(Reg().OpenKeyCount(), 1u);

    // A predefined root opened again is itself and is not counted.
    HKEY root = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"", 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(Reg().OpenKeyCount(), 1u);

    // A key removed under an open handle; a sibling whose name starts alike stays.
    Reg().CreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo Tools");
    EXPECT_TRUE(Reg().DeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo"));
    EXPECT_FALSE(Reg().DeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo"));
    EXPECT_EQ(Reg().SubkeyNames(HKEY_LOCAL_MACHINE, u"SOFTWARE"), (std::vector<std::u16string>{u"Velmo Tools"}));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(b, u"InstallPath", nullptr, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_KEY_DELETED));
    EXPECT_FALSE(Reg().KeyExists(HKEY_LOCAL_MACHINE, kVelmoKey));
    EXPECT_TRUE(Reg().KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE"));
    EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
    EXPECT_EQ(Reg().OpenKeyCount(), 0u);

    // A fresh machine forgets leaked handles.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &a), ERROR_SUCCESS);
    Platform::GetMachine().Reset();
    EXPECT_EQ(Reg().OpenKeyCount(), 0u);
    EXPECT_EQ(RegCloseKey(a), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirs) {
    Reg().SetString(HKEY_LOCAL_MACHINE, kVelmoKey, u"InstallPath", u"C:\\Velmo");
    Reg().SetString(HKEY_LOCAL_MACHINE, u"software\\velmo\\Übersicht", u"Name", u"x");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\VELMO\\hv7300", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"INSTALLPATH", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\üBERSICHT", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(Reg().SubkeyNames(HKEY_LOCAL_MACHINE, u"SOFTWARE\\VELMO"),
              (std::vector<std::u16string>{u"HV7300", u"Übersicht"}));
    Reg().SetDword(HKEY_LOCAL_MACHINE, kVelmoKey, u"INSTALLPATH", 1);  // replaces, keeps the first spelling
    EXPECT_EQ(Reg().ValueNames(HKEY_LOCAL_MACHINE, kVelmoKey), (std::vector<std::u16string>{u"InstallPath"}));
    EXPECT_EQ(Reg().GetValue(HKEY_LOCAL_MACHINE, kVelmoKey, u"installpath"), RegValue::Dword(1));
}

TEST_F(Registry, MalformedPathsAndNames) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"a\\\\b", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              static_cast<LSTATUS>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"bad\nname", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, std::u16string(256, u'k').c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                              &key, nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    // A trailing separator is tolerated.
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Velmo\\", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Reg().SubkeyNames(HKEY_CURRENT_USER, u"Software"), (std::vector<std::u16string>{u"Velmo"}));
    EXPECT_THROW(Reg().CreateKey(HKEY_CURRENT_USER, u"tab\tname"), std::invalid_argument);
    EXPECT_EQ(Reg().OpenKeyCount(), 0u);
}

}  // namespace
