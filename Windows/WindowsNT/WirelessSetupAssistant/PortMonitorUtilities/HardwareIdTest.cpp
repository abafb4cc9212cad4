#include "DriverLookup.h"
#include "HardwareId.h"
#include "Platform/Machine.h"
#include "Platform/SetupApi.h"
#include "PortMonitorException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using namespace PortMonitorUtilities;

namespace {

std::uint16_t Crc(const std::string& text) {
    return HardwareIdCrc(std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

std::u16string Digits(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%X", value);
    return std::u16string(text, text + std::strlen(text));
}

DWORD CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const PortMonitorException& e) {
        EXPECT_STREQ(e.what(), "Port Monitor Exception");
        return e.Code();
    }
    ADD_FAILURE() << "no PortMonitorException";
    return 0;
}

}  // namespace

TEST(HardwareId, ChecksumKeepsTheFamilysHighTable) {
    EXPECT_EQ(Crc("123456789"), 0x593C);  // the published table gives 0xBB3D
    EXPECT_EQ(Crc("\xFF"), 0x4240);
    EXPECT_EQ(Crc("\x0F"), 0x0440);
    EXPECT_EQ(Crc(""), 0);
}

TEST(HardwareId, ShowsTwentyUnitsWithBlanksAsUnderscoresAndChecksumsAll) {
    EXPECT_EQ(MakeHardwareId(u"Acme ", u"Photo Dock 123456789012"), u"USBPRINT\\Acme_Photo_Dock_12346ACF");
    // Blanks count as blanks in the checksum.
    EXPECT_EQ(MakeHardwareId(u"A B", u""), u"USBPRINT\\A_B" + Digits(Crc("A B")));
    EXPECT_NE(Crc("A B"), Crc("A_B"));
    const std::string thirty = "Velmo Photo Dock Model 1234567";
    ASSERT_EQ(thirty.size(), 30u);
    const std::u16string id = MakeHardwareId(u"Velmo ", u"Photo Dock Model 1234567");
    EXPECT_EQ(id.substr(0, 29), u"USBPRINT\\Velmo_Photo_Dock_Mod");
    EXPECT_NE(Crc(thirty), Crc(thirty.substr(0, 20)));
    EXPECT_EQ(id.substr(29), Digits(Crc(thirty)));
}

TEST(HardwareId, ShortChecksumHasNoLeadingZerosAndTextOutsideTheCodePageIsRefused) {
    // "\x0F" checksums to 0x440: three digits.
    EXPECT_EQ(MakeHardwareId(u"\x0F", u""),
              u"USBPRINT\x5C\x0F"
              u"440");
    // Code page characters above 0x7F go in as their single byte.
    EXPECT_EQ(MakeHardwareId(u"\u00FF", u""), u"USBPRINT\\\u00FF4240");
    EXPECT_EQ(CodeOf([] { MakeHardwareId(u"Velmo \u4E00", u"Dock"); }), 87u);
}
