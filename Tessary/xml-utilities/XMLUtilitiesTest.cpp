#include "Tessary/xml-utilities/XMLUtilities.h"

#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

using namespace Tessary;

namespace {

std::u16string Units(const I8NString& text) {
    return std::u16string(text.c_str(), text.length());
}

std::string EndTagError(std::ostream& stream) {
    try {
        stream << XMLEndTag;
    } catch (const TSException& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

class Sample : public XMLPrintable {
public:
    explicit Sample(std::vector<const Sample*> children = {}) : children_(std::move(children)) {}
    void PrintText(std::ostream& stream) const override {
        stream << "sample[";
        for (const Sample* child : children_) child->Print(stream);
        stream << "]";
    }
    void PrintXML(std::ostream& stream) const override {
        stream << XMLStartTag("sample");
        for (const Sample* child : children_) child->Print(stream);
        stream << XMLEndTag;
    }

private:
    std::vector<const Sample*> children_;
};

}  // namespace

TEST(XMLWriter, GoldenDocuments) {
    {
        std::ostringstream out;
        out << XMLStartTag("a") << XMLEndTag;
        EXPECT_EQ(out.str(), "<a></a>");
    }
    {
        std::ostringstream out;
        out << XMLStartTag("a", {{"b", "2"}, {"a", "1"}}) << XMLStartTag("b") << XMLEndTag << XMLEndTag;
        EXPECT_EQ(out.str(), "<a a=\"1\" b=\"2\"><b></b></a>");
    }
    {
        std::ostringstream out;
        const std::string name = "Say \"hi\" & <go>";
        const int id = 1000;
        const int negative = -7;
        out << XMLStartTag("dockConfig", {{"version", "1.0"}}) << XMLTextElement("profileName", name)
            << XMLTextElement("id", id) << XMLTextElement("n", negative)
            << XMLTextElement("key", std::string("k1"), {{"id", "1"}}) << XMLTextElement("empty", std::string())
            << XMLEndTag;
        EXPECT_EQ(out.str(),
                  "<dockConfig version=\"1.0\"><profileName>Say \"hi\" & <go></profileName><id>1000</id>"
                  "<n>-7</n><key id=\"1\">k1</key><empty></empty></dockConfig>");
    }
    {
        std::ostringstream out;
        out << XMLStartTag("v", {{"q", "a\"b"}}) << XMLEndTag;
        EXPECT_EQ(out.str(), "<v q=\"a\"b\"></v>") << "attribute values are written as given";
    }
}

TEST(XMLWriter, EndTagWithoutStartTagThrows) {
    std::ostringstream fresh;
    EXPECT_EQ(EndTagError(fresh), "No start tag!");
    EXPECT_EQ(fresh.str(), "");

    std::ostringstream out;
    out << XMLStartTag("a") << XMLStartTag("b") << XMLEndTag << XMLEndTag;
    EXPECT_EQ(EndTagError(out), "No start tag!");
    EXPECT_EQ(out.str(), "<a><b></b></a>") << "what was written stays";

    // A text element closes only itself.
    std::ostringstream element;
    element << XMLTextElement("x", 1);
    EXPECT_EQ(EndTagError(element), "No start tag!");
}

TEST(XMLWriter, FormatFlagChoosesTheFormOfAWholeTree) {
    std::ostringstream out;
    EXPECT_FALSE(IsXMLFormat(out));
    out << XMLFormat(true);
    EXPECT_TRUE(IsXMLFormat(out));
    out << XMLFormat(false);
    EXPECT_FALSE(IsXMLFormat(out));

    const Sample leaf;
    const Sample tree({&leaf, &leaf});
    std::ostringstream text;
    tree.Print(text);
    EXPECT_EQ(text.str(), "sample[sample[]sample[]]");
    std::ostringstream xml;
    xml << XMLFormat(true);
    tree.Print(xml);
    EXPECT_EQ(xml.str(), "<sample><sample></sample><sample></sample></sample>");
}

TEST(XMLWriter, SubstituteCharacters) {
    EXPECT_EQ(Units(SubstituteCharacters(I8NString(u"a<b&c"))), u"a&lt;b&amp;c");
    EXPECT_EQ(Units(SubstituteCharacters(I8NString(u"&'\"<>"))), u"&amp;&#39;&quot;&lt;&gt;");
    EXPECT_EQ(Units(SubstituteCharacters(I8NString())), u"");
    EXPECT_EQ(Units(SubstituteCharacters(I8NString(u"Caf\u00E9 \u65E5"))), u"Caf\u00E9 \u65E5");

    // A character outside the BMP is one character, written unchanged.
    EXPECT_EQ(Units(SubstituteCharacters(I8NString(u"Tom's \xD83D\xDE00<"))), u"Tom&#39;s \xD83D\xDE00&lt;");

    // Half a pair cannot be written as XML at all.
    for (const char16_t* broken : {u"a\xD83D", u"\xDE00z", u"\xD83D\xD83D"}) {
        EXPECT_THROW(SubstituteCharacters(I8NString(broken)), TSLogicError);
    }

    // Escaped, then written: the quote no longer ends the attribute.
    std::ostringstream out;
    out << XMLStartTag("v", {{"q", ToUtf8String(SubstituteCharacters(I8NString(u"a\"b")))}}) << XMLEndTag;
    EXPECT_EQ(out.str(), "<v q=\"a&quot;b\"></v>");
}

TEST(XMLWriter, ToUtf8String) {
    EXPECT_EQ(ToUtf8String(I8NString(u"\u65E5 \xD83D\xDE00")), "\xE6\x97\xA5 \xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8String(I8NString()), "");
    try {
        ToUtf8String(I8NString(u"\xDE00"));
        ADD_FAILURE() << "a lone surrogate converted";
    } catch (const TSException& e) {
        EXPECT_STREQ(e.what(), "Can't convert string");
    }
}

// Each stream owns its open-element list; under ASan these show a double
// free or a leak if ownership goes wrong.
TEST(XMLWriter, CopyfmtGivesTheCopyItsOwnOpenElements) {
    auto source = std::make_unique<std::ostringstream>();
    *source << XMLFormat(true) << XMLStartTag("a") << XMLStartTag("b");

    auto copy = std::make_unique<std::ostringstream>();
    copy->copyfmt(*source);
    EXPECT_TRUE(IsXMLFormat(*copy));
    *copy << XMLEndTag;
    EXPECT_EQ(copy->str(), "</b>");

    // The source's list is untouched by the copy's end tag.
    *source << XMLEndTag << XMLEndTag;
    EXPECT_EQ(source->str(), "<a><b></b></a>");
    source.reset();

    *copy << XMLEndTag;
    EXPECT_EQ(copy->str(), "</b></a>");
    EXPECT_EQ(EndTagError(*copy), "No start tag!");
    copy.reset();
}

TEST(XMLWriter, CopyfmtOverAStreamWithItsOwnList) {
    std::ostringstream a;
    a << XMLStartTag("a");
    std::ostringstream b;
    b << XMLStartTag("b1") << XMLStartTag("b2");
    b.copyfmt(a);  // b's own list is released, a's is copied
    b << XMLEndTag;
    EXPECT_EQ(b.str(), "<b1><b2></a>");

    std::ostringstream fresh;
    a.copyfmt(fresh);  // a loses its open elements with its format
    EXPECT_EQ(EndTagError(a), "No start tag!");
    a << XMLStartTag("again") << XMLEndTag;
    EXPECT_EQ(a.str(), "<a><again></again>");

    // Copying a stream onto itself changes nothing.
    std::ostringstream self;
    self << XMLStartTag("s");
    self.copyfmt(self);
    self << XMLEndTag;
    EXPECT_EQ(self.str(), "<s></s>");
}

TEST(XMLWriter, StreamsDestroyedWithOpenElementsReleaseThem) {
    for (int i = 0; i < 100; ++i) {
        std::ostringstream out;
        out << XMLStartTag("open") << XMLStartTag("deeper");
    }
    std::ostringstream reused;
    reused << XMLStartTag("x") << XMLEndTag << XMLStartTag("y") << XMLEndTag;
    EXPECT_EQ(reused.str(), "<x></x><y></y>");
}
