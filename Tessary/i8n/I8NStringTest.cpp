#include "Tessary/i8n/I8NString.h"

#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using namespace Tessary;

namespace {

std::u16string Units(const I8NString& text) {
    return std::u16string(text.c_str(), text.length());
}

// Sets the process locale for one test and puts the previous one back.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        active_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool Active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

template <class Exception, class Action>
std::string ThrownText(Action&& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

}  // namespace

TEST(I8NString, EveryEmptyFormHoldsAnAllocatedEmptyText) {
    const char16_t* noWide = nullptr;
    const char* noNarrow = nullptr;
    const I8NString texts[] = {I8NString(),   I8NString(noWide),        I8NString(u""),          I8NString(noNarrow),
                               I8NString(""), I8NString(std::string()), WideToI8NString(nullptr)};
    for (const auto& text : texts) {
        ASSERT_NE(text.c_str(), nullptr);
        EXPECT_EQ(text.c_str()[0], 0);
        EXPECT_EQ(text.length(), 0u);
        EXPECT_TRUE(text.empty());
    }
}

TEST(I8NString, InvalidUtf8GivesEmptyTextNotNull) {
    for (const char* bad : {"\xE4"
                            "AB",
                            "\xC0\x80", "ok\xF0\x9F\x98", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        SCOPED_TRACE(bad);
        const I8NString text(bad);
        ASSERT_NE(text.c_str(), nullptr);
        EXPECT_TRUE(text.empty());
    }
}

TEST(I8NString, CreateFromUtf8DecodesAndReplacesTheTarget) {
    EXPECT_EQ(Units(I8NString("Caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80")), u"Caf\u00E9 \u65E5\xD83D\xDE00");

    // The old buffer is freed (ASan reports a leak otherwise).
    char16_t* target = Win32StringMgr::Duplicate(u"old");
    Win32StringMgr::CreateFromUtf8(target, "new");
    EXPECT_EQ(std::u16string(target), u"new");
    Win32StringMgr::CreateFromUtf8(target, "\xFF");
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target[0], 0);
    Win32StringMgr::Free(target);
    EXPECT_EQ(target, nullptr);
}

TEST(I8NString, CopiesAreIndependent) {
    I8NString original(u"abc");
    I8NString copy(original);
    copy.AppendCharacter(u'd');
    EXPECT_EQ(Units(original), u"abc");
    EXPECT_EQ(Units(copy), u"abcd");
    EXPECT_NE(original.c_str(), copy.c_str());

    I8NString assigned(u"zzz");
    assigned = original;
    original.AppendCharacter(u'!');
    EXPECT_EQ(Units(assigned), u"abc");

    const I8NString& self = assigned;
    assigned = self;
    EXPECT_EQ(Units(assigned), u"abc");
}

TEST(I8NString, JoinAppendAndPositions) {
    const I8NString left(u"ab");
    EXPECT_EQ(Units(left + I8NString(u"c\u00E9")), u"abc\u00E9");
    EXPECT_EQ(Units(left + I8NString()), u"ab");
    EXPECT_EQ(Units(I8NString() + left), u"ab");
    EXPECT_EQ(Units(left), u"ab") << "operator+ leaves its operands alone";

    I8NString text;
    text.AppendCharacter(u'x');
    text.AppendCharacter(u'\u4E2D');
    EXPECT_EQ(Units(text), u"x\u4E2D");
    EXPECT_EQ(text.GetCharacter(0), u'x');
    EXPECT_EQ(text.GetCharacter(1), u'\u4E2D');
    EXPECT_EQ(ThrownText<TSLogicError>([&] { text.GetCharacter(2); }),
              "Invalid character position within source string");
    EXPECT_EQ(ThrownText<TSLogicError>([] { I8NString().GetCharacter(0); }),
              "Invalid character position within source string");
}

TEST(I8NString, AppendingHalfASurrogatePairThrowsAndKeepsTheText) {
    I8NString text(u"ab");
    for (char16_t unit : {u'\xD800', u'\xDBFF', u'\xDC00', u'\xDFFF'}) {
        EXPECT_EQ(ThrownText<TSLogicError>([&] { text.AppendCharacter(unit); }),
                  "Character concatenation is not supported for surrogate pairs");
    }
    EXPECT_EQ(Units(text), u"ab");
    text.AppendCharacter(u'\uE000');
    EXPECT_EQ(text.length(), 3u);
}

TEST(I8NString, ComparisonAndLengthConstructor) {
    EXPECT_EQ(I8NString(u"abc"), I8NString("abc"));
    EXPECT_NE(I8NString(u"ab"), I8NString(u"abc"));
    EXPECT_TRUE(I8NString(u"ab") < I8NString(u"abc"));
    EXPECT_TRUE(I8NString(u"\u00E9") < I8NString(u"\xD83D\xDE00"));
    EXPECT_FALSE(I8NString(u"b") < I8NString(u"a"));
    EXPECT_EQ(Units(I8NString(u"abcdef", 3)), u"abc");
}

TEST(I8NString, WideToI8NStringKeepsNonAsciiPathsIntact) {
    const char16_t* path = u"C:\\Programme\\J\u00FCrgen\\\u65E5\u672C\\\xD83D\xDE00";
    EXPECT_EQ(Units(WideToI8NString(path)), std::u16string(path));
}

TEST(Wc2String, Utf8LocaleGivesUtf8ForCjkText) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.Active());
    const std::u16string cjk = u"\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8 \uD55C\uAD6D\xD83D\xDE00";
    EXPECT_EQ(wc2string(cjk.data(), static_cast<int>(cjk.size())),
              "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88 "
              "\xED\x95\x9C\xEA\xB5\xAD\xF0\x9F\x98\x80");
    // Three bytes per unit: more than twice the count plus two.
    const std::u16string many(100, u'\u4E2D');
    EXPECT_EQ(wc2string(many.data(), 100).size(), 300u);
    EXPECT_EQ(I8NString(u"\u65E5\u672C").ToString(), "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(Wc2String, CountLimitsAndZeroEnds) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.Active());
    EXPECT_EQ(wc2string(u"\u65E5\u672C", 1), "\xE6\x97\xA5");
    EXPECT_EQ(wc2string(u"ab\0cd", 5), "ab");
    EXPECT_EQ(wc2string(u"abc", 0), "");
    EXPECT_EQ(wc2string(nullptr, 0), "");
}

TEST(Wc2String, Errors) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.Active());
    const std::string invalid = "Invalid parameters specified for wide character conversion";
    const std::string failed = "Wide character string conversion failed: did you forget to set the locale?";
    EXPECT_EQ(ThrownText<TSException>([] { wc2string(u"abc", -1); }), invalid);
    EXPECT_EQ(ThrownText<TSException>([] { wc2string(nullptr, 1); }), invalid);
    EXPECT_EQ(ThrownText<TSException>([] { wc2string(u"a\xDC00", 2); }), failed);
    EXPECT_EQ(ThrownText<TSException>([] {
                  wc2string(
                      u"\xD800"
                      u"a",
                      2);
              }),
              failed);
}

TEST(Wc2String, ClassicLocaleConvertsAsciiAndRefusesTheRest) {
    LocaleScope locale("C");
    ASSERT_TRUE(locale.Active());
    EXPECT_EQ(wc2string(u"plain text", 10), "plain text");
    EXPECT_EQ(ThrownText<TSException>([] { wc2string(u"\u65E5", 1); }),
              "Wide character string conversion failed: did you forget to set the locale?");
    EXPECT_EQ(ThrownText<TSException>([] { wc2string(u"a\xD800", 2); }),
              "Wide character string conversion failed: did you forget to set the locale?");
}
