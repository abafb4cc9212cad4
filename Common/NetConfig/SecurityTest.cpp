#include "Common/NetConfig/Security.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Tessary/TSException.h"

namespace {

std::string Text(const Security& security) {
    std::ostringstream stream;
    security.Print(stream);
    return stream.str();
}

std::string Xml(const Security& security) {
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true);
    security.Print(stream);
    return stream.str();
}

template <class E>
void ExpectThrow(const std::function<void()>& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no exception, expected " << message;
    } catch (const E& e) {
        EXPECT_EQ(e.what(), message);
    }
}

TEST(SecurityTest, NullSecurityHasNoKeys) {
    NullSecurity security;
    EXPECT_EQ(security.GetKeyCount(), 0);
    ExpectThrow<Tessary::TSLogicError>([&] { security.SetKey(1, "k"); }, "Can't add keys to NullSecurity objects");
    ExpectThrow<Tessary::TSLogicError>([&] { security.GetKey(0); }, "Invalid key index");
    ExpectThrow<Tessary::TSLogicError>([&] { security.GetKey(1); }, "Invalid key index");
    EXPECT_NE(dynamic_cast<NullSecurity*>(security.Clone().get()), nullptr);
    EXPECT_EQ(Text(security), "{ No keys }");
    EXPECT_EQ(Xml(security), "");
}

TEST(SecurityTest, WepKeysAreNumberedOneToFour) {
    WepSecurity security;
    EXPECT_EQ(security.GetKeyCount(), 4);
    EXPECT_EQ(security.GetKey(1), "");
    security.SetKey(4, "x");
    EXPECT_EQ(security.GetKey(4), "x");
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(security.GetKey(n), "");
    // SetKey failures are plain TSException, GetKey failures logic errors.
    for (int bad : {0, 5, -1}) {
        try {
            security.SetKey(bad, "y");
            ADD_FAILURE() << bad;
        } catch (const Tessary::TSLogicError&) {
            ADD_FAILURE() << "SetKey must not raise a logic error";
        } catch (const Tessary::TSException& e) {
            EXPECT_STREQ(e.what(), "Invalid key index");
        }
        ExpectThrow<Tessary::TSLogicError>([&] { security.GetKey(bad); }, "Invalid key index");
    }
    EXPECT_EQ(security.GetKey(4), "x");
}

TEST(SecurityTest, WepCloneIsIndependent) {
    WepSecurity security;
    for (int n = 1; n <= 4; ++n) security.SetKey(n, "key" + std::to_string(n));
    std::unique_ptr<Security> clone = security.Clone();
    ASSERT_NE(dynamic_cast<WepSecurity*>(clone.get()), nullptr);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(clone->GetKey(n), "key" + std::to_string(n));
    clone->SetKey(2, "changed");
    EXPECT_EQ(security.GetKey(2), "key2");
}

TEST(SecurityTest, WpaKeyIsSetOnce) {
    WpaPskSecurity security;
    EXPECT_EQ(security.GetKeyCount(), 1);
    EXPECT_EQ(security.GetKey(0), "");
    security.SetKey(7, "k");
    EXPECT_EQ(security.GetKey(0), "k");
    ExpectThrow<Tessary::TSException>([&] { security.SetKey(0, "other"); }, "Key has already been set");
    EXPECT_EQ(security.GetKey(0), "k");
    ExpectThrow<Tessary::TSLogicError>([&] { security.GetKey(1); }, "Invalid key index");
    ExpectThrow<Tessary::TSLogicError>([&] { security.GetKey(-1); }, "Invalid key index");
    EXPECT_EQ(security.Clone()->GetKey(0), "k");
}

TEST(SecurityTest, TextForms) {
    WepSecurity wep;
    wep.SetKey(1, "a");
    wep.SetKey(3, "c");
    EXPECT_EQ(Text(wep), "{ WepSecurity: key-1=a, key-2=, key-3=c, key-4= }");
    WpaPskSecurity wpa;
    wpa.SetKey(1, "secret");
    EXPECT_EQ(Text(wpa), " { WpaPskSecurity: wpaPSKKey=secret }");
}

TEST(SecurityTest, XmlFormsEscapeKeys) {
    WepSecurity wep;
    wep.SetKey(2, "<&>");
    EXPECT_NE(Xml(wep).find("<key id=\"2\">&lt;&amp;&gt;</key>\n"), std::string::npos);
    WpaPskSecurity wpa;
    wpa.SetKey(1, "a&b<c>\"d'</wpaPSKKey><x>");
    EXPECT_EQ(Xml(wpa), "<wpaPSKKey>a&amp;b&lt;c&gt;&quot;d&#39;&lt;/wpaPSKKey&gt;&lt;x&gt;</wpaPSKKey>\n");
}

}  // namespace
