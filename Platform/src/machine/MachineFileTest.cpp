#include "Platform/Machine.h"
#include "Platform/MachineFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using Platform::MachineFileError;
using Platform::RegValue;
using ::testing::HasSubstr;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    std::ofstream(temporary, std::ios::binary) << text;
    std::filesystem::rename(temporary, path);
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmo-machine-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path_); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

Platform::RegistryData RichRegistry() {
    Platform::ScopedFreshMachine machine;
    auto& reg = Platform::GetMachine().Registry();
    reg.SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath", u"C:\\Programme\\Velmo \"Ü\" 日本 😀");
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Tabs and lines",
                 RegValue::String(u"a\tb\nc\rd\x01\x7F"));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"Software\\Marrowline\\Jorvale\\Parameters", u"DeviceGUID",
                 RegValue::Binary({0x00, 0x11, 0xAB, 0xFF}));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"Software\\Marrowline\\Jorvale\\Parameters", u"Empty", RegValue::Binary({}));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Models",
                 RegValue::MultiString({u"HV7300", u"Glimmerly \"mini\"", u"Ω"}));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Empty list", RegValue::MultiString({}));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Gap list",
                 RegValue{REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0}});
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Unterminated", RegValue{REG_SZ, {'O', 0, 'K', 0}});
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Odd", RegValue{REG_SZ, {'O', 0, 'K'}});
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Inner zero and lone surrogate",
                 RegValue{REG_EXPAND_SZ, {'a', 0, 0, 0, 0x00, 0xD8, 'b', 0, 0, 0}});
    reg.SetDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Count", 0xFFFFFFFFu);
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Short dword", RegValue{REG_DWORD, {1, 2}});
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Big", RegValue::Qword(0x0102030405060708ull));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"Own type", RegValue{0x12345, {9}});
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"", RegValue::String(u"default"));
    reg.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"name with \"quotes\" = and \\", RegValue::Dword(1));
    reg.SetDword(HKEY_CURRENT_USER, u"", u"At the root", 7);
    reg.CreateKey(HKEY_CURRENT_USER, u"Software\\Empty key ]with bracket");
    reg.CreateKey(HKEY_USERS, u" spaced ");
    reg.CreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE Extra");  // sorts between "SOFTWARE" and its children
    return reg.Snapshot();
}

TEST(MachineText, RegistryRoundTripKeepsEveryByte) {
    const auto data = RichRegistry();
    const std::string text = Platform::FormatRegistryText(data);
    EXPECT_EQ(Platform::ParseRegistryText(text, "registry.txt"), data);

    // The text is readable: strings as text, numbers as numbers.
    EXPECT_THAT(text, HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo\\HV7300]\n"));
    EXPECT_THAT(text, HasSubstr("\"InstallPath\" = REG_SZ \"C:\\\\Programme\\\\Velmo \\\"Ü\\\" 日本 😀\"\n"));
    EXPECT_THAT(text, HasSubstr("\"Tabs and lines\" = REG_SZ \"a\\tb\\nc\\rd\\u0001\\u007F\"\n"));
    EXPECT_THAT(text, HasSubstr("\"DeviceGUID\" = REG_BINARY hex 00 11 ab ff\n"));
    EXPECT_THAT(text, HasSubstr("\"Models\" = REG_MULTI_SZ \"HV7300\", \"Glimmerly \\\"mini\\\"\", \"Ω\"\n"));
    EXPECT_THAT(text, HasSubstr("\"Unterminated\" = REG_SZ unterminated \"OK\"\n"));
    EXPECT_THAT(text, HasSubstr("\"Odd\" = REG_SZ hex 4f 00 4b\n"));
    EXPECT_THAT(text, HasSubstr("= REG_EXPAND_SZ \"a\\0\\uD800b\"\n"));
    EXPECT_THAT(text, HasSubstr("\"Count\" = REG_DWORD 4294967295\n"));
    EXPECT_THAT(text, HasSubstr("\"Short dword\" = REG_DWORD hex 01 02\n"));
    EXPECT_THAT(text, HasSubstr("\"Own type\" = 0x00012345 hex 09\n"));
    EXPECT_THAT(text, HasSubstr("[HKEY_CURRENT_USER\\Software\\Empty key ]with bracket]\n"));
    // Parents without values are implied by their children.
    EXPECT_THAT(text, ::testing::Not(HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE]")));
}

TEST(MachineText, HandWrittenRegistry) {
    const auto data = Platform::ParseRegistryText(
        "# seeded by hand\r\n"
        "\n"
        "  [hkey_local_machine\\SOFTWARE\\Velmo\\HV7300]   \r\n"
        "\t\"InstallPath\"=REG_SZ \"C:\\\\Velmo\"\n"
        "\"Version\" = REG_DWORD 0x00000103\n"
        "\"Raw\" = REG_BINARY hex\n"
        "\"Typed\" = 4 5\n"
        "[HKEY_LOCAL_MACHINE\\software]\n"
        "\"Later\" = REG_QWORD 0x10\n",
        "registry.txt");
    const auto& key = data.keys.at(u"hkey_local_machine\\software\\velmo\\hv7300");
    EXPECT_EQ(key.path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo\\HV7300");
    EXPECT_EQ(key.values.at(u"installpath").value, RegValue::String(u"C:\\Velmo"));
    EXPECT_EQ(key.values.at(u"version").value, RegValue::Dword(0x103));
    EXPECT_EQ(key.values.at(u"raw").value, RegValue::Binary({}));
    EXPECT_EQ(key.values.at(u"typed").value, RegValue::Dword(5));
    EXPECT_EQ(data.keys.at(u"hkey_local_machine\\software").values.at(u"later").value, RegValue::Qword(16));
}

struct Malformed {
    const char* name;
    const char* text;
    const char* message;
};

void PrintTo(const Malformed& c, std::ostream* os) {
    *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<Malformed>& info) {
    return info.param.name;
}

class MalformedRegistry : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedRegistry, IsRejectedWithFileAndLine) {
    try {
        Platform::ParseRegistryText(GetParam().text, "/m/registry.txt");
        FAIL() << "accepted: " << GetParam().text;
    } catch (const MachineFileError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedRegistry,
    ::testing::Values(
        Malformed{"ValueBeforeAnyKey", "\"x\" = REG_DWORD 1\n",
                  "/m/registry.txt:1: a value before the first [key] line"},
        Malformed{"KeyLineWithoutBracket", "[HKEY_LOCAL_MACHINE\\A\n", "/m/registry.txt:1: a key line ends with ']'"},
        Malformed{"UnknownRoot", "[HKEY_NOWHERE\\A]\n",
                  "/m/registry.txt:1: key path must start with a root such as HKEY_LOCAL_MACHINE"},
        Malformed{"EmptyKeyName", "[HKEY_LOCAL_MACHINE\\\\A]\n", "/m/registry.txt:1: empty key name in the path"},
        Malformed{"EmptyKeyPath", "[]\n", "/m/registry.txt:1: empty key path"},
        Malformed{"KeyNotUtf8", "[HKEY_LOCAL_MACHINE\\\xC3]\n", "/m/registry.txt:1: key path is not valid UTF-8"},
        Malformed{"ControlCharacterInKey", "[HKEY_LOCAL_MACHINE\\a\x01]\n",
                  "/m/registry.txt:1: control character in a key name"},
        Malformed{"KeyGivenTwice", "[HKEY_CURRENT_USER\\A]\n[hkey_current_user\\a]\n",
                  "/m/registry.txt:2: key [HKEY_CURRENT_USER\\A] is given twice"},
        Malformed{"UnquotedValueName", "[HKEY_CURRENT_USER]\nname = REG_SZ \"x\"\n",
                  "/m/registry.txt:2: expected a [key] line or a \"value\" = line"},
        Malformed{"MissingEquals", "[HKEY_CURRENT_USER]\n\"x\" REG_SZ \"x\"\n",
                  "/m/registry.txt:2: expected '=' after the value name"},
        Malformed{"UnclosedValueName", "[HKEY_CURRENT_USER]\n\"x = REG_SZ\n",
                  "/m/registry.txt:2: the value name has no closing quote"},
        Malformed{"UnknownType", "[HKEY_CURRENT_USER]\n\"x\" = REG_TEXT \"x\"\n",
                  "/m/registry.txt:2: unknown value type 'REG_TEXT'"},
        Malformed{"TypeOutOfRange", "[HKEY_CURRENT_USER]\n\"x\" = 0x1FFFFFFFF hex\n",
                  "/m/registry.txt:2: value type out of range: 0x1FFFFFFFF"},
        Malformed{"UnknownEscape", "[HKEY_CURRENT_USER]\n\"x\" = REG_SZ \"a\\q\"\n",
                  "/m/registry.txt:2: unknown escape \\q in the text"},
        Malformed{"ShortUnicodeEscape", "[HKEY_CURRENT_USER]\n\"x\" = REG_SZ \"\\u12\"\n",
                  "/m/registry.txt:2: \\u needs 4 hex digits"},
        Malformed{"ControlCharacterInText", "[HKEY_CURRENT_USER]\n\"x\" = REG_SZ \"a\x02\"\n",
                  "/m/registry.txt:2: control character in the text (escape it)"},
        Malformed{"TextNotUtf8", "[HKEY_CURRENT_USER]\n\"x\" = REG_SZ \"\xFF\"\n",
                  "/m/registry.txt:2: the text is not valid UTF-8"},
        Malformed{"TrailingText", "[HKEY_CURRENT_USER]\n\"x\" = REG_SZ \"a\" b\n",
                  "/m/registry.txt:2: unexpected text at the end of the line: 'b'"},
        Malformed{"DwordOutOfRange", "[HKEY_CURRENT_USER]\n\"x\" = REG_DWORD 4294967296\n",
                  "/m/registry.txt:2: REG_DWORD value out of range: 4294967296"},
        Malformed{"NegativeDword", "[HKEY_CURRENT_USER]\n\"x\" = REG_DWORD -1\n",
                  "/m/registry.txt:2: REG_DWORD value must be a decimal or 0x hexadecimal number, got '-1'"},
        Malformed{"MissingDword", "[HKEY_CURRENT_USER]\n\"x\" = REG_DWORD\n",
                  "/m/registry.txt:2: missing REG_DWORD value"},
        Malformed{"BinaryWithoutHex", "[HKEY_CURRENT_USER]\n\"x\" = REG_BINARY 01 02\n",
                  "/m/registry.txt:2: a value of this type is written as hex bytes: hex 01 02 ..."},
        Malformed{"UnseparatedHexBytes", "[HKEY_CURRENT_USER]\n\"x\" = REG_BINARY hex 0102\n",
                  "/m/registry.txt:2: hex data must be pairs of hex digits separated by blanks, got '0102'"},
        Malformed{"NotAHexByte", "[HKEY_CURRENT_USER]\n\"x\" = REG_BINARY hex 0g\n",
                  "/m/registry.txt:2: not a hex byte: '0g'"},
        Malformed{"EmptyTextInMultiString", "[HKEY_CURRENT_USER]\n\"x\" = REG_MULTI_SZ \"a\", \"\"\n",
                  "/m/registry.txt:2: a REG_MULTI_SZ list cannot hold an empty text (write it in hex)"},
        Malformed{"UnquotedMultiStringText", "[HKEY_CURRENT_USER]\n\"x\" = REG_MULTI_SZ \"a\",\n",
                  "/m/registry.txt:2: expected each text of a REG_MULTI_SZ in double quotes"},
        Malformed{"ValueGivenTwice", "[HKEY_CURRENT_USER]\n\"x\" = REG_DWORD 1\n# note\n\"X\" = REG_DWORD 2\n",
                  "/m/registry.txt:4: value \"X\" is given twice"}),
    CaseName);

TEST(MachineText, QuotedTextTellsAnEscapedCharacterFromTheSameLettersTyped) {
    const auto message = [](const std::string& trailing) {
        try {
            Platform::ParseRegistryText("[HKEY_CURRENT_USER]\n\"x\" = REG_SZ \"a\" " + trailing + "\n", "r");
        } catch (const MachineFileError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message("\x1b[2J"), "r:2: unexpected text at the end of the line: '\\x1b[2J'");
    EXPECT_EQ(message("\\x1b[2J"), "r:2: unexpected text at the end of the line: '\\\\x1b[2J'");
    // Every backslash before an escape or an x is doubled; others stay.
    EXPECT_EQ(Platform::EscapeControlCharacters("\\\x1b"), "\\\\\\x1b");
    EXPECT_EQ(Platform::EscapeControlCharacters("\\\\x"), "\\\\\\\\x");
    EXPECT_EQ(Platform::EscapeControlCharacters("\\\\server\\share\\"), "\\\\server\\share\\");
    EXPECT_EQ(Platform::EscapeControlCharacters("HKEY_CURRENT_USER\\Software\\\xFF"),
              "HKEY_CURRENT_USER\\Software\\\\\\xff");
}

TEST(MachineText, SpoolerRoundTripAndHandWritten) {
    Platform::SpoolerData data;
    Platform::PrinterQueue queue;
    queue.name = u"Velmo HV7300 (Küche)";
    queue.port = u"IP_192.168.1.20";
    queue.driver = u"Velmo HV7300";
    queue.attributes = 0xA40;
    queue.data[u"printerdriverdata"] = {u"PrinterDriverData",
                                        {{u"cc_index", {u"CC_INDEX", RegValue::Dword(3)}},
                                         {u"cc_filter", {u"CC_FILTER", RegValue{REG_SZ, {'O', 0, 'R', 0}}}}}};
    data.printers[u"velmo hv7300 (küche)"] = queue;
    Platform::PrinterQueue plain;
    plain.name = u"Plain";
    data.printers[u"plain"] = plain;
    const std::string text = Platform::FormatSpoolerText(data);
    EXPECT_EQ(Platform::ParseSpoolerText(text, "spooler.txt"), data);
    EXPECT_THAT(text, HasSubstr("[printer \"Velmo HV7300 (Küche)\"]\nport = \"IP_192.168.1.20\"\n"));
    EXPECT_THAT(text, HasSubstr("data \"PrinterDriverData\" \"CC_INDEX\" = REG_DWORD 3\n"));

    const auto read = Platform::ParseSpoolerText(
        "[printer \"A\"]\nport = \"USB001\"\n# defaults for the rest\ndata \"\\\\\" \"Own\" = REG_SZ \"x\"\n",
        "spooler.txt");
    const auto& a = read.printers.at(u"a");
    EXPECT_EQ(a.port, u"USB001");
    EXPECT_EQ(a.driver, u"");
    EXPECT_EQ(a.printProcessor, u"winprint");
    EXPECT_EQ(a.attributes, PRINTER_ATTRIBUTE_LOCAL);
    EXPECT_EQ(a.data.at(u"\\").values.at(u"own").value, RegValue::String(u"x"));
}

class MalformedSpooler : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedSpooler, IsRejectedWithFileAndLine) {
    try {
        Platform::ParseSpoolerText(GetParam().text, "spooler.txt");
        FAIL() << "accepted: " << GetParam().text;
    } catch (const MachineFileError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedSpooler,
    ::testing::Values(
        Malformed{"SettingBeforeAnyPrinter", "port = \"USB001\"\n",
                  "spooler.txt:1: 'port' before the first [printer \"name\"] line"},
        Malformed{"UnknownSectionKind", "[queue \"A\"]\n", "spooler.txt:1: unknown section kind 'queue'"},
        Malformed{"PrinterLineWithoutBracket", "[printer \"A\"\n",
                  "spooler.txt:1: expected ']' after the printer name"},
        Malformed{"InvalidPrinterName", "[printer \"A,B\"]\n",
                  "spooler.txt:1: invalid printer name \"A,B\" (1 to 220 characters, no '\\', ',' or control "
                  "character)"},
        Malformed{"PrinterGivenTwice", "[printer \"A\"]\n[printer \"a\"]\n",
                  "spooler.txt:2: printer \"a\" is given twice"},
        Malformed{"SettingGivenTwice", "[printer \"A\"]\nport = \"1\"\nport = \"2\"\n",
                  "spooler.txt:3: 'port' is given twice for this printer"},
        Malformed{"UnknownSetting", "[printer \"A\"]\ncolour = \"x\"\n",
                  "spooler.txt:2: unknown printer setting 'colour'"},
        Malformed{"AttributesNotANumber", "[printer \"A\"]\nattributes = lots\n",
                  "spooler.txt:2: attributes must be a decimal or 0x hexadecimal number, got 'lots'"},
        Malformed{"EmptyDataKey", "[printer \"A\"]\ndata \"\" \"x\" = REG_DWORD 1\n", "spooler.txt:2: empty data key"},
        Malformed{"DataValueGivenTwice",
                  "[printer \"A\"]\ndata \"K\" \"x\" = REG_DWORD 1\ndata \"k\" \"X\" = REG_DWORD 1\n",
                  "spooler.txt:3: value \"X\" is given twice"}),
    CaseName);

TEST(MachineText, Settings) {
    EXPECT_FALSE(Platform::ParseMachineSettingsText("administrator = false\n", "m").administrator);
    EXPECT_TRUE(Platform::ParseMachineSettingsText("# nothing\n", "m").administrator);
    const Platform::MachineSettings user{false, {}, {}};
    EXPECT_EQ(Platform::ParseMachineSettingsText(Platform::FormatMachineSettingsText(user), "m"), user);
    EXPECT_THROW(Platform::ParseMachineSettingsText("administrator = yes\n", "m"), MachineFileError);
    EXPECT_THROW(Platform::ParseMachineSettingsText("admin = true\n", "m"), MachineFileError);

    const auto old = Platform::ParseMachineSettingsText("version = 5.1.2600\nservicepack = \"SP3\"\n", "m");
    EXPECT_EQ(old.version, (Platform::OsVersion{5, 1, 2600, u"SP3"}));
    const Platform::MachineSettings versioned{true, {6, 1, 7601, u"Service Pack 1"}, {}};
    EXPECT_EQ(Platform::ParseMachineSettingsText(Platform::FormatMachineSettingsText(versioned), "m"), versioned);
    for (const char* bad : {"version = 5.1\n", "version = 5..1\n", "version = 5.1.x\n", "version = 5.1.2.3\n",
                            "version = 5.1.99999999999\n", "servicepack = SP3\n"})
        EXPECT_THROW(Platform::ParseMachineSettingsText(bad, "m"), MachineFileError) << bad;
}

TEST(MachineText, NetworksAroundTheMachine) {
    const auto settings = Platform::ParseMachineSettingsText(
        "network = \"Office\" channel 6 wpa \"a long pass phrase\"\n"
        "network = \"Cafe\" channel 1 open\nnetwork = \"Lab\" channel 11 wep \"0123456789ABCDEF0123456789\"\n",
        "m");
    ASSERT_EQ(settings.networks.size(), 3u);
    const Platform::AccessPoint& office = settings.networks[0];
    EXPECT_EQ(office.ssid, "Office");
    EXPECT_EQ(office.channel, 6);
    EXPECT_EQ(office.authentication, Platform::WifiAuthentication::WpaPsk);
    EXPECT_EQ(office.encryption, Platform::WifiEncryption::Aes);
    EXPECT_EQ(office.wpaKey, "a long pass phrase");
    EXPECT_EQ(settings.networks[1].encryption, Platform::WifiEncryption::None);
    EXPECT_EQ(settings.networks[2].encryption, Platform::WifiEncryption::Wep128);
    EXPECT_EQ(settings.networks[2].authentication, Platform::WifiAuthentication::Shared);
    EXPECT_EQ(Platform::ParseMachineSettingsText(Platform::FormatMachineSettingsText(settings), "m"), settings);

    for (const char* bad :
         {"network = \"\" channel 1 open\n", "network = \"A\" channel 0 open\n", "network = \"A\" channel 15 open\n",
          "network = \"A\" 6 open\n", "network = \"A\" channel 6 wpa \"short\"\n",
          "network = \"A\" channel 6 wep \"abc\"\n", "network = \"A\" channel 6 wep \"0123456789ABCDEF012345678Z\"\n",
          "network = \"A\" channel 6 psk \"a long pass phrase\"\n", "network = \"A\" channel 6 open extra\n"})
        EXPECT_THROW(Platform::ParseMachineSettingsText(bad, "m"), MachineFileError) << bad;
}

// The machine kept on disk, as programs use it.
class MachineOnDisk : public ::testing::Test {
protected:
    std::string File(const char* name) const { return folder_.Path() + "/" + name; }
    Platform::SystemRegistry& Reg() { return Platform::GetMachine().Registry(); }

    Platform::ScopedFreshMachine machine_;
    TemporaryFolder folder_;
};

TEST_F(MachineOnDisk, SaveThenLoadGivesTheSameMachine) {
    const auto registry = RichRegistry();
    Reg().Replace(registry);
    Platform::GetMachine().Spooler().AddPrinter(u"Velmo HV7300", u"USB001", u"Velmo HV7300");
    Platform::GetMachine().Spooler().SetPrinterData(u"Velmo HV7300", u"PrinterDriverData", u"CC_FILTER_DATA",
                                                    RegValue::String(u"LUT «Natural»"));
    Platform::GetMachine().SetUserIsAdministrator(false);
    Platform::GetMachine().SetVersion({5, 1, 2600, u"Service Pack 3"});
    Platform::AccessPoint office;
    office.ssid = "Office";
    office.channel = 6;
    Platform::GetMachine().Wireless().SetAccessPoints({office});
    Platform::GetMachine().Drivers().Install(
        {u"Velmo HV7300", u"C:\\Windows\\INF\\oem3.inf", u"HV7300.NT", {u"USBPRINT\\VelmoHV73001234"}, {}});
    const auto spooler = Platform::GetMachine().Spooler().Snapshot();
    const auto drivers = Platform::GetMachine().Drivers().Snapshot();
    Platform::SaveMachine(folder_.Path());

    Platform::GetMachine().Reset();
    Platform::LoadMachine(folder_.Path());
    EXPECT_EQ(Reg().Snapshot(), registry);
    EXPECT_EQ(Platform::GetMachine().Spooler().Snapshot(), spooler);
    EXPECT_EQ(Platform::GetMachine().Drivers().Snapshot(), drivers);
    EXPECT_EQ(Platform::GetMachine().Version(), (Platform::OsVersion{5, 1, 2600, u"Service Pack 3"}));
    EXPECT_FALSE(Platform::GetMachine().UserIsAdministrator());
    EXPECT_EQ(Platform::GetMachine().Wireless().AccessPoints(), std::vector<Platform::AccessPoint>{office});
    // Bound: a package installed now is in the file at once.
    Platform::GetMachine().Drivers().Uninstall(u"velmo hv7300");
    EXPECT_EQ(Platform::ParseDriverStoreText(ReadFile(folder_.Path() + "/drivers.txt"), "drivers.txt"),
              Platform::DriverStoreData{});
}

TEST_F(MachineOnDisk, ChangesGoToDiskAndOtherProgramsChangesAreSeen) {
    Platform::LoadMachine(folder_.Path());  // an empty folder is an empty machine
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const auto path = RegValue::String(u"C:\\Velmo");
    ASSERT_EQ(RegSetValueExW(key, u"InstallPath", 0, REG_SZ, path.data.data(), static_cast<DWORD>(path.data.size())),
              ERROR_SUCCESS);
    EXPECT_THAT(ReadFile(File("registry.txt")), HasSubstr("\"InstallPath\" = REG_SZ \"C:\\\\Velmo\"\n"));

    // Another program edits the file: the open handle reads the new value.
    WriteFile(File("registry.txt"),
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo\\HV7300]\n\"InstallPath\" = REG_SZ \"D:\\\\Elsewhere\"\n");
    WCHAR buffer[64] = {};
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"D:\\Elsewhere");

    // A key removed by the other program.
    WriteFile(File("registry.txt"), "");
    EXPECT_EQ(RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_KEY_DELETED));
    RegCloseKey(key);

    // The spooler likewise.
    WriteFile(File("spooler.txt"), "[printer \"Net\"]\nport = \"IP_10.0.0.9\"\n");
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Net", &printer, nullptr));
    DWORD needed = 0;
    EXPECT_EQ(
        GetPrinterDataExW(printer, u"\\", u"Port", nullptr, reinterpret_cast<BYTE*>(buffer), sizeof buffer, &needed),
        ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"IP_10.0.0.9");
    ClosePrinter(printer);
}

TEST_F(MachineOnDisk, FileBrokenByHandIsReportedAndNotOverwritten) {
    WriteFile(File("registry.txt"), "[HKEY_CURRENT_USER\\A]\n\"x\" = REG_DWORD 1\n");
    Platform::LoadMachine(folder_.Path());
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);

    const std::string broken = "[HKEY_CURRENT_USER\\A]\n\"x\" = REG_DWORD one\n";
    WriteFile(File("registry.txt"), broken);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"x", nullptr, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_REGISTRY_CORRUPT));
    const BYTE two[4] = {2, 0, 0, 0};
    EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_DWORD, two, 4), static_cast<LSTATUS>(ERROR_REGISTRY_CORRUPT));
    EXPECT_EQ(ReadFile(File("registry.txt")), broken);
    EXPECT_THROW(Reg().GetValue(HKEY_CURRENT_USER, u"A", u"x"), MachineFileError);

    // Mended, it is used again.
    WriteFile(File("registry.txt"), "[HKEY_CURRENT_USER\\A]\n\"x\" = REG_DWORD 3\n");
    EXPECT_EQ(RegSetValueExW(key, u"y", 0, REG_DWORD, two, 4), ERROR_SUCCESS);
    EXPECT_EQ(Reg().GetValue(HKEY_CURRENT_USER, u"A", u"x"), RegValue::Dword(3));
    RegCloseKey(key);

    // Loading a broken machine fails and names the place.
    WriteFile(File("spooler.txt"), "[printer \"A\"]\nport = USB001\n");
    try {
        Platform::LoadMachine(folder_.Path());
        FAIL() << "a broken spooler file was loaded";
    } catch (const MachineFileError& error) {
        EXPECT_THAT(error.what(), HasSubstr("/spooler.txt:2: expected the port name in double quotes"));
    }
}

TEST_F(MachineOnDisk, TwoProgramsWritingAtOnceLoseNothing) {
    Platform::LoadMachine(folder_.Path());
    constexpr int kValues = 40;
    auto writeValues = [](const char16_t* prefix) {
        for (int i = 0; i < kValues; ++i) {
            std::u16string name = prefix;
            for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
            Platform::GetMachine().Registry().SetDword(HKEY_CURRENT_USER, u"Shared", name, static_cast<DWORD>(i));
        }
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 0;
        try {
            writeValues(u"child ");
        } catch (...) {
            status = 1;
        }
        ::_exit(status);
    }
    writeValues(u"parent ");
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(Reg().ValueNames(HKEY_CURRENT_USER, u"Shared").size(), 2u * kValues);
    const auto onDisk = Platform::ParseRegistryText(ReadFile(File("registry.txt")), "registry.txt");
    EXPECT_EQ(onDisk.keys.at(u"hkey_current_user\\shared").values.size(), 2u * kValues);
}

}  // namespace
