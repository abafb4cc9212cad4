#include "WizardValidators.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WizardValidatorsTest, DeviceNamesUpToThirtyTwoCharactersAndBelowSixtyFourBytes) {
    EXPECT_EQ(ValidateDeviceName(u""), DeviceNameEmpty);
    EXPECT_EQ(ValidateDeviceName(u"Kitchen"), DeviceNameValid);
    EXPECT_EQ(ValidateDeviceName(std::u16string(32, u'd')), DeviceNameValid);
    EXPECT_EQ(ValidateDeviceName(std::u16string(33, u'd')), DeviceNameTooLong);
    // 21 characters of three bytes: 63 bytes pass, 22 make 66.
    EXPECT_EQ(ValidateDeviceName(std::u16string(21, u'\u65e5')), DeviceNameValid);
    EXPECT_EQ(ValidateDeviceName(std::u16string(22, u'\u65e5')), DeviceNameTooLong);
    // 32 two-byte characters are exactly 64 bytes: one too many.
    EXPECT_EQ(ValidateDeviceName(std::u16string(32, u'\u00e9')), DeviceNameTooLong);
    EXPECT_EQ(ValidateDeviceName(std::u16string(31, u'\u00e9')), DeviceNameValid);
    // A pair of surrogates is one character of four bytes.
    std::u16string astral;
    for (int i = 0; i < 15; ++i) astral += u"\U0001F5A8";
    EXPECT_EQ(ValidateDeviceName(astral), DeviceNameValid);
    EXPECT_EQ(ValidateDeviceName(astral + u"\U0001F5A8"), DeviceNameTooLong);
    EXPECT_EQ(ValidateDeviceName(u"Dock\xD800"), DeviceNameInvalid);
    EXPECT_EQ(ValidateDeviceName(std::u16string(u"Do\0ck", 5)), DeviceNameInvalid);
}

TEST(WizardValidatorsTest, SsidsUpToThirtyTwoBytes) {
    EXPECT_EQ(ValidateSsid(u""), SsidEmpty);
    EXPECT_EQ(ValidateSsid(u"HomeNet"), SsidValid);
    EXPECT_EQ(ValidateSsid(std::u16string(32, u's')), SsidValid);
    EXPECT_EQ(ValidateSsid(std::u16string(33, u's')), SsidTooLong);
    EXPECT_EQ(ValidateSsid(std::u16string(16, u'\u00e9')), SsidValid);
    EXPECT_EQ(ValidateSsid(std::u16string(17, u'\u00e9')), SsidTooLong);
    EXPECT_EQ(ValidateSsid(u"\xDC00net"), SsidInvalid);
}

TEST(WizardValidatorsTest, WepKeysByLengthAndHexDigits) {
    EXPECT_EQ(ValidateWepKey(u"abcde"), DATA_MODE_WEP_64BIT);
    EXPECT_EQ(ValidateWepKey(u"0123456789"), DATA_MODE_WEP_64BIT);
    EXPECT_EQ(ValidateWepKey(u"ABCDEFabcd"), DATA_MODE_WEP_64BIT);
    EXPECT_EQ(ValidateWepKey(u"thirteen char"), DATA_MODE_WEP_128BIT);
    EXPECT_EQ(ValidateWepKey(u"0123456789abcdef0123456789"), DATA_MODE_WEP_128BIT);

    EXPECT_EQ(ValidateWepKey(u""), DATA_MODE_NONE);
    EXPECT_EQ(ValidateWepKey(u"abcdef"), DATA_MODE_NONE);
    EXPECT_EQ(ValidateWepKey(u"0123456789ab"), DATA_MODE_NONE);
    EXPECT_EQ(ValidateWepKey(u"012345678g"), DATA_MODE_NONE) << "ten characters must all be hex digits";
    EXPECT_EQ(ValidateWepKey(u"0123456789abcdef012345678z"), DATA_MODE_NONE);
    EXPECT_EQ(ValidateWepKey(u"caf\u00e9s"), DATA_MODE_WEP_64BIT) << "characters, not bytes";
    EXPECT_EQ(ValidateWepKey(u"abcd\xD800"), DATA_MODE_NONE);
}

}  // namespace
