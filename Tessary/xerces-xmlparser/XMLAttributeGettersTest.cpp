#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "Tessary/TSException.h"

using namespace Tessary;

namespace {

const XMLAttributeMap kAttributes = {
    {"hex", "0x10"},       {"octal", "010"},         {"junk", "12abc"},  {"empty", ""},    {"neg", " -5"},
    {"big", "4294967296"}, {"small", "-4294967296"}, {"letters", "abc"}, {"true", "true"}, {"false", "false"},
    {"TRUE", "TRUE"},      {"space", " "},           {"one", "1"},       {"text", "a b"},
};

std::string Message(const std::function<void()>& call) {
    try {
        call();
    } catch (const TSRuntimeError& e) {
        return e.what();
    }
    return "no exception";
}

TEST(XMLAttributeGettersTest, Integers) {
    EXPECT_EQ(GetRequiredIntAttribute(kAttributes, "hex"), 16);
    EXPECT_EQ(GetRequiredIntAttribute(kAttributes, "octal"), 8);
    EXPECT_EQ(GetRequiredIntAttribute(kAttributes, "junk"), 12);
    EXPECT_EQ(GetRequiredIntAttribute(kAttributes, "neg"), -5);
    EXPECT_EQ(GetRequiredIntAttribute(kAttributes, "big"), INT_MAX);
    EXPECT_EQ(GetRequiredIntAttribute(kAttributes, "small"), INT_MIN);
    EXPECT_EQ(Message([] { GetRequiredIntAttribute(kAttributes, "empty"); }), "Missing/empty attribute 'empty'");
    EXPECT_EQ(Message([] { GetRequiredIntAttribute(kAttributes, "none"); }), "Missing/empty attribute 'none'");
    EXPECT_EQ(Message([] { GetRequiredIntAttribute(kAttributes, "letters"); }),
              "Invalid value for attribute 'letters'");
    EXPECT_EQ(Message([] { GetRequiredIntAttribute(kAttributes, "space"); }), "Invalid value for attribute 'space'");

    int value = 99;
    EXPECT_TRUE(GetOptionalIntAttribute(kAttributes, "hex", value));
    EXPECT_EQ(value, 16);
    value = 99;
    EXPECT_FALSE(GetOptionalIntAttribute(kAttributes, "none", value));
    EXPECT_EQ(value, 0);
    value = 99;
    EXPECT_FALSE(GetOptionalIntAttribute(kAttributes, "empty", value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Message([&] { GetOptionalIntAttribute(kAttributes, "letters", value); }),
              "Invalid value for attribute 'letters'");
}

TEST(XMLAttributeGettersTest, BooleansAreExactlyTrueOrFalse) {
    EXPECT_TRUE(GetRequiredBoolAttribute(kAttributes, "true"));
    EXPECT_FALSE(GetRequiredBoolAttribute(kAttributes, "false"));
    EXPECT_EQ(Message([] { GetRequiredBoolAttribute(kAttributes, "TRUE"); }), "Invalid value for attribute 'TRUE'");
    EXPECT_EQ(Message([] { GetRequiredBoolAttribute(kAttributes, "one"); }), "Invalid value for attribute 'one'");
    EXPECT_EQ(Message([] { GetRequiredBoolAttribute(kAttributes, "empty"); }), "Missing/empty attribute 'empty'");
    EXPECT_EQ(Message([] { GetRequiredBoolAttribute(kAttributes, "none"); }), "Missing/empty attribute 'none'");

    bool value = true;
    EXPECT_TRUE(GetOptionalBoolAttribute(kAttributes, "true", value));
    EXPECT_TRUE(value);
    EXPECT_FALSE(GetOptionalBoolAttribute(kAttributes, "none", value));
    EXPECT_FALSE(value);
    value = true;
    EXPECT_FALSE(GetOptionalBoolAttribute(kAttributes, "empty", value));
    EXPECT_FALSE(value);
    EXPECT_EQ(Message([&] { GetOptionalBoolAttribute(kAttributes, "TRUE", value); }),
              "Invalid value for attribute 'TRUE'");
}

TEST(XMLAttributeGettersTest, SmallMapsAreReadLikeLargeOnes) {
    // A handful of attributes is searched differently from many.
    const XMLAttributeMap few = {{"id", "0x10"}, {"on", "true"}, {"empty", ""}};
    EXPECT_EQ(GetRequiredIntAttribute(few, "id"), 16);
    EXPECT_TRUE(GetRequiredBoolAttribute(few, "on"));
    EXPECT_EQ(Message([&] { GetRequiredIntAttribute(few, "i"); }), "Missing/empty attribute 'i'");
    EXPECT_EQ(Message([&] { GetRequiredStringAttribute(few, "empty"); }), "Missing attribute 'empty'");
    std::string text;
    EXPECT_FALSE(GetOptionalStringAttribute(few, "idx", text));
}

TEST(XMLAttributeGettersTest, Strings) {
    EXPECT_EQ(GetRequiredStringAttribute(kAttributes, "text"), "a b");
    EXPECT_EQ(Message([] { GetRequiredStringAttribute(kAttributes, "empty"); }), "Missing attribute 'empty'");
    EXPECT_EQ(Message([] { GetRequiredStringAttribute(kAttributes, "none"); }), "Missing attribute 'none'");

    std::string value = "kept";
    EXPECT_TRUE(GetOptionalStringAttribute(kAttributes, "space", value));
    EXPECT_EQ(value, " ");
    value = "kept";
    EXPECT_FALSE(GetOptionalStringAttribute(kAttributes, "none", value));
    EXPECT_FALSE(GetOptionalStringAttribute(kAttributes, "empty", value));
    EXPECT_EQ(value, "kept");
}

}  // namespace
