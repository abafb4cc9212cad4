#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace Tessary;

namespace {

// A small grammar whose states log every call they get. Children are chosen
// by name: "skip*" is skipped, "int" and "str" use the stock setter states,
// "bad" makes the parent throw, anything else gets a logging state.
struct Grammar {
    std::vector<std::string> log;
    int live = 0;  // self-destructing states not yet deleted
    std::string str = "unset";
    std::vector<int> numbers;

    void SetNumber(int n) { numbers.push_back(n); }
    XercesXMLParsingState* Make(const std::string& name);
    std::size_t Count(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }
};

class LoggingState : public XMLStateSelfDestruct {
public:
    LoggingState(Grammar& grammar, std::string name) : grammar_(grammar), name_(std::move(name)) { ++grammar_.live; }
    ~LoggingState() override { --grammar_.live; }

    XercesXMLParsingState* StartElement(const std::string& child, const XMLAttributeMap& attributes) override {
        std::string entry = name_ + ":Start(" + child;
        for (const auto& [key, value] : attributes) entry += " " + key + "=" + value;
        grammar_.log.push_back(entry + ")");
        return grammar_.Make(child);
    }
    void Characters(const std::string& text) override { grammar_.log.push_back(name_ + ":Characters(" + text + ")"); }
    void EndElement() override {
        grammar_.log.push_back(name_ + ":End");
        XMLStateSelfDestruct::EndElement();
    }
    void Abort() override {
        grammar_.log.push_back(name_ + ":Abort");
        XMLStateSelfDestruct::Abort();
    }

private:
    Grammar& grammar_;
    std::string name_;
};

// The number setter, counted so that a leak or a double free shows.
class CountedIntState : public XMLSetIntDataState<Grammar, int> {
public:
    explicit CountedIntState(Grammar& grammar)
        : XMLSetIntDataState<Grammar, int>(&grammar, &Grammar::SetNumber), grammar_(grammar) {
        ++grammar_.live;
    }
    ~CountedIntState() override { --grammar_.live; }
    void Abort() override {
        grammar_.log.push_back("int:Abort");
        XMLSetIntDataState<Grammar, int>::Abort();
    }

private:
    Grammar& grammar_;
};

class CountedStringState : public XMLStringSetState {
public:
    explicit CountedStringState(Grammar& grammar) : XMLStringSetState(&grammar.str), grammar_(grammar) {
        ++grammar_.live;
    }
    ~CountedStringState() override { --grammar_.live; }

private:
    Grammar& grammar_;
};

XercesXMLParsingState* Grammar::Make(const std::string& name) {
    if (name.rfind("skip", 0) == 0) return nullptr;
    if (name == "int") return new CountedIntState(*this);
    if (name == "str") return new CountedStringState(*this);
    if (name == "bad") TS_THROW(TSRuntimeError, "unexpected element");
    return new LoggingState(*this, name);
}

// Lives on the caller's stack, as document states do.
class DocumentState : public XMLNoTextState {
public:
    explicit DocumentState(Grammar& grammar) : grammar_(grammar) {}
    XercesXMLParsingState* StartElement(const std::string& name, const XMLAttributeMap& attributes) override {
        std::string entry = "doc:Start(" + name;
        for (const auto& [key, value] : attributes) entry += " " + key + "=" + value;
        grammar_.log.push_back(entry + ")");
        return grammar_.Make(name);
    }
    void EndElement() override { grammar_.log.push_back("doc:End"); }
    void Abort() override { grammar_.log.push_back("doc:Abort"); }

private:
    Grammar& grammar_;
};

struct Result {
    bool ok;
    Grammar grammar;
};

Result Parse(const std::string& xml) {
    Result result{false, {}};
    DocumentState document(result.grammar);
    XercesXMLParser parser;
    result.ok = parser.ParseBuffer(xml.data(), static_cast<unsigned>(xml.size()), &document);
    EXPECT_EQ(result.grammar.live, 0) << "self-destructing states left alive";
    return result;
}

using Log = std::vector<std::string>;

TEST(XercesXMLParserTest, SkippedSubtreeGetsNoCallsAndParentKeepsItsText) {
    const auto r =
        Parse("<root>before<skipMe a='1'><x>in x<y><z>deep</z></y></x>tail<skipAgain/></skipMe>after<child/></root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Characters(before)", "root:Start(skipMe a=1)",
                                  "root:Characters(after)", "root:Start(child)", "child:End", "root:End", "doc:End"}));
}

TEST(XercesXMLParserTest, SkippedDocumentElementStillEndsTheDocumentOnce) {
    const auto r = Parse("<skipRoot><a><b/></a></skipRoot>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(skipRoot)", "doc:End"}));
}

TEST(XercesXMLParserTest, TextRunsArriveWholeAndWhiteSpaceAloneNotAtAll) {
    auto r = Parse("<root>fish &amp; chips<![CDATA[ <raw> & ]]>&#x21;&lt;</root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log,
              (Log{"doc:Start(root)", "root:Characters(fish & chips <raw> & !<)", "root:End", "doc:End"}));

    r = Parse("<root>\n\t  <a> \r\n </a>  \n<b/>\t</root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log,
              (Log{"doc:Start(root)", "root:Start(a)", "a:End", "root:Start(b)", "b:End", "root:End", "doc:End"}));

    // White space beside other text is delivered untrimmed.
    r = Parse("<root> a\n</root>");
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Characters( a\n)", "root:End", "doc:End"}));

    // A long run crosses the parser's internal buffers and is still one call.
    const std::string longText(100000, 'x');
    r = Parse("<root>" + longText + "&amp;" + longText + "</root>");
    ASSERT_EQ(r.grammar.log.size(), 4u);
    EXPECT_EQ(r.grammar.log[1], "root:Characters(" + longText + "&" + longText + ")");
}

TEST(XercesXMLParserTest, StockSetterStates) {
    auto r = Parse("<root><int> 12 </int><int>0x10</int><int>-7kg</int><str> a &amp; b </str></root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.numbers, (std::vector<int>{12, 16, -7}));
    EXPECT_EQ(r.grammar.str, " a & b ");

    // An empty element sets the empty string; a child inside a text state is skipped.
    r = Parse("<root><str>x<skipped>y</skipped>z</str></root>");
    EXPECT_EQ(r.grammar.str, "xz");
    r = Parse("<root><str/></root>");
    EXPECT_EQ(r.grammar.str, "");

    // Out-of-range numbers saturate at the 32-bit limits.
    r = Parse("<root><int>99999999999</int><int>-99999999999</int></root>");
    EXPECT_EQ(r.grammar.numbers, (std::vector<int>{INT32_MAX, INT32_MIN}));
}

TEST(XercesXMLParserTest, TextWithoutANumberFailsTheParseAndAbortsTheSetter) {
    const auto r = Parse("<root><int>3</int><int>abc</int><int>4</int></root>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.numbers, (std::vector<int>{3}));
    EXPECT_EQ(r.grammar.log,
              (Log{"doc:Start(root)", "root:Start(int)", "root:Start(int)", "int:Abort", "root:Abort", "doc:Abort"}));
}

TEST(XercesXMLParserTest, DocumentCutShortAbortsEveryOpenState) {
    const auto r = Parse("<root><a>one</a><b><str>partial<c>text");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.str, "unset");  // aborted, so never assigned
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Start(a)", "a:Characters(one)", "a:End", "root:Start(b)",
                                  "b:Start(str)", "b:Abort", "root:Abort", "doc:Abort"}));
    EXPECT_EQ(r.grammar.Count("doc:End"), 0u);
}

TEST(XercesXMLParserTest, MalformedOrRejectedInputAbortsCleanly) {
    // Mismatched end tag inside a skipped subtree: the one skip state is on
    // the stack three times and must be freed exactly once.
    auto r = Parse("<root><skip><a><b></a></b></skip></root>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Start(skip)", "root:Abort", "doc:Abort"}));

    // A state that throws on an unexpected child.
    r = Parse("<root><a/><bad/><c/></root>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.log,
              (Log{"doc:Start(root)", "root:Start(a)", "a:End", "root:Start(bad)", "root:Abort", "doc:Abort"}));

    // Junk after the document element.
    r = Parse("<root/><root/>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.Count("doc:End"), 0u);

    // Nothing, or nothing that is XML.
    for (const std::string& junk :
         std::vector<std::string>{"", "not xml", std::string("\0\0\0", 3), "<?xml version='1.0'?>"}) {
        r = Parse(junk);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.grammar.Count("doc:End"), 0u);
    }
}

TEST(XercesXMLParserTest, SuccessfulParseEndsTheDocumentStateExactlyOnce) {
    const auto r = Parse("<?xml version='1.0'?>\n<!-- c --><root><a/><?pi x?></root>\n<!-- after -->\n");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.Count("doc:End"), 1u);
    EXPECT_EQ(r.grammar.Count("doc:Abort"), 0u);
    EXPECT_EQ(r.grammar.log.back(), "doc:End");
}

TEST(XercesXMLParserTest, TextNamesAndValuesArriveAsUtf8) {
    // "Café 日 😀" in a UTF-8 document.
    auto r = Parse("<root n='\xC3\xA9t\xC3\xA9'>Caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80<\xC3\xA9l/></root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log,
              (Log{"doc:Start(root n=\xC3\xA9t\xC3\xA9)", "root:Characters(Caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80)",
                   "root:Start(\xC3\xA9l)", "\xC3\xA9l:End", "root:End", "doc:End"}));

    // A document in another encoding, and a character reference above the BMP.
    r = Parse("<?xml version='1.0' encoding='ISO-8859-1'?><root>Caf\xE9 &#x1F600;</root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log[1], "root:Characters(Caf\xC3\xA9 \xF0\x9F\x98\x80)");

    // A long run of pairs is transcoded whole.
    std::string text = "a";
    for (int i = 0; i < 30000; ++i) text += "\xF0\x9F\x98\x80";
    r = Parse("<root>" + text + "</root>");
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.grammar.log[1] == "root:Characters(" + text + ")");
}

TEST(XercesXMLParserTest, ParseFileReadsFilesAndGivesNoCallsForAMissingOne) {
    const auto dir = std::filesystem::temp_directory_path() / ("xmlreader-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "doc \xC3\xA9.xml";  // non-ASCII path
    std::ofstream(path) << "<root>text</root>";
    const Log read = {"doc:Start(root)", "root:Characters(text)", "root:End", "doc:End"};

    Grammar grammar;
    DocumentState document(grammar);
    XercesXMLParser parser;
    EXPECT_TRUE(parser.ParseFile(path.string(), &document));
    EXPECT_EQ(grammar.log, read);
    grammar.log.clear();
    EXPECT_TRUE(parser.ParseFile(I8NString(path.string()), &document));
    EXPECT_EQ(grammar.log, read);

    grammar.log.clear();
    EXPECT_FALSE(parser.ParseFile((dir / "missing.xml").string(), &document));
    EXPECT_FALSE(parser.ParseFile(I8NString(u"/no/such/dir/x.xml"), &document));
    EXPECT_FALSE(parser.ParseFile("", &document));
    EXPECT_FALSE(parser.ParseFile(std::string("\xFF\xFE.xml"), &document));  // not UTF-8
    EXPECT_FALSE(parser.ParseFile(dir.string(), &document));                 // a folder
    EXPECT_TRUE(grammar.log.empty());
    std::filesystem::remove_all(dir);
}

TEST(XercesXMLParserTest, ParseFileTakesPathsOfTheSystem) {
    // Windows paths name files under the machine root.
    const auto root = std::filesystem::temp_directory_path() / ("xmlreader-machine-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "c" / "Program Files" / "Velmo");
    std::ofstream(root / "c" / "Program Files" / "Velmo" / "ORV.xml") << "<root/>";
    const char* previous = std::getenv("VELMO_MACHINE_ROOT");
    const std::string saved = previous ? previous : "";
    setenv("VELMO_MACHINE_ROOT", root.c_str(), 1);

    Grammar grammar;
    DocumentState document(grammar);
    XercesXMLParser parser;
    EXPECT_TRUE(parser.ParseFile("C:\\Program Files\\Velmo\\ORV.xml", &document));
    EXPECT_TRUE(parser.ParseFile(I8NString(u"c:\\Program Files\\Velmo\\ORV.xml"), &document));
    EXPECT_EQ(grammar.Count("doc:End"), 2u);

    if (previous) {
        setenv("VELMO_MACHINE_ROOT", saved.c_str(), 1);
    } else {
        unsetenv("VELMO_MACHINE_ROOT");
    }
    std::filesystem::remove_all(root);
}

// Records whether anything opens a file.
class OpenWatch {
public:
    explicit OpenWatch(const std::filesystem::path& path) : fd_(inotify_init1(IN_NONBLOCK)) {
        if (fd_ >= 0) inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() {
        if (fd_ >= 0) close(fd_);
    }
    bool Valid() const { return fd_ >= 0; }
    bool Opened() {
        char buffer[4096];
        return read(fd_, buffer, sizeof buffer) > 0;
    }

private:
    int fd_;
};

class HostileDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("xmlreader-hostile-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        secret_ = dir_ / "secret.txt";
        std::ofstream(secret_) << "SECRET";
        dtd_ = dir_ / "outside.dtd";
        std::ofstream(dtd_) << "<!ATTLIST root injected CDATA 'yes'>\n<!ENTITY e 'SECRET'>\n";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Parses with both files watched; fails the test if either was opened or
    // its content reached a state.
    Result ParseUntouched(const std::string& xml) {
        OpenWatch secretWatch(secret_), dtdWatch(dtd_);
        EXPECT_TRUE(secretWatch.Valid() && dtdWatch.Valid());
        auto r = Parse(xml);
        EXPECT_FALSE(secretWatch.Opened()) << xml;
        EXPECT_FALSE(dtdWatch.Opened()) << xml;
        for (const auto& entry : r.grammar.log) {
            EXPECT_EQ(entry.find("SECRET"), std::string::npos) << entry;
            EXPECT_EQ(entry.find("injected"), std::string::npos) << entry;
        }
        return r;
    }

    std::string Url(const std::filesystem::path& p) const { return "file://" + p.string(); }

    std::filesystem::path dir_, secret_, dtd_;
};

TEST_F(HostileDocumentTest, ExternalEntitiesAndDtdsAreNeverRead) {
    // External general entity, by URL and by plain path.
    auto r = ParseUntouched("<!DOCTYPE root [<!ENTITY x SYSTEM '" + Url(secret_) + "'>]><root>[&x;]</root>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.Count("root:Abort"), 1u);
    ParseUntouched("<!DOCTYPE root [<!ENTITY x SYSTEM '" + secret_.string() + "'>]><root>[&x;]</root>");
    ParseUntouched("<!DOCTYPE root PUBLIC 'x' '" + Url(secret_) +
                   "' [<!ENTITY x SYSTEM 'secret.txt'>]><root>&x;</root>");

    // External DTD subset: never loaded, so its attribute default does not
    // show and the document itself still reads.
    r = ParseUntouched("<!DOCTYPE root SYSTEM '" + Url(dtd_) + "'><root><a/></root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Start(a)", "a:End", "root:End", "doc:End"}));
    r = ParseUntouched("<!DOCTYPE root SYSTEM '" + Url(dtd_) + "'><root>&e;</root>");
    EXPECT_FALSE(r.ok);

    // External parameter entity pulled into the internal subset.
    ParseUntouched("<!DOCTYPE root [<!ENTITY % p SYSTEM '" + Url(dtd_) + "'> %p;]><root/>");

    // XInclude is not honoured either.
    r = ParseUntouched("<root xmlns:xi='http://www.w3.org/2001/XInclude'><xi:include href='" + Url(secret_) +
                       "' parse='text'/></root>");
    EXPECT_TRUE(r.ok);
}

TEST_F(HostileDocumentTest, DeclaredEntitiesAreRefusedAndPredefinedOnesWork) {
    // Only the predefined entities and character references exist: nothing a
    // document declares is expanded.
    auto r = Parse("<!DOCTYPE root [<!ENTITY who 'world'>]><root>hello &who;</root>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Abort", "doc:Abort"}));

    r = Parse("<!DOCTYPE root [<!ATTLIST root a CDATA 'x'>]><root b='1'>&lt;&gt;&amp;&apos;&quot;&#65;&#x42;</root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root b=1)", "root:Characters(<>&'\"AB)", "root:End", "doc:End"}));
}

// Printer answers escape every "&", "<" and quote in their names and keys,
// so a document may hold any number of predefined references.
TEST(XercesXMLParserTest, PredefinedReferencesAreNeverLimited) {
    const char* references[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    const char decoded[] = "&<>\"'";
    std::string escaped, expected;
    for (int i = 0; i < 10000; ++i) {
        escaped += references[i % 5];
        expected += decoded[i % 5];
    }
    auto r = Parse("<root>" + escaped + "</root>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Characters(" + expected + ")", "root:End", "doc:End"}));

    r = Parse("<root a=\"" + escaped + "\"/>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root a=" + expected + ")", "root:End", "doc:End"}));
}

TEST_F(HostileDocumentTest, EntityExpansionBombFailsCleanly) {
    std::string bomb = "<?xml version='1.0'?><!DOCTYPE root [<!ENTITY l0 'lol'>";
    for (int i = 1; i <= 9; ++i) {
        bomb += "<!ENTITY l" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) bomb += "&l" + std::to_string(i - 1) + ";";
        bomb += "'>";
    }
    const std::string prolog = bomb + "]>";
    auto r = Parse(prolog + "<root><a>&l9;</a></root>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.log, (Log{"doc:Start(root)", "root:Start(a)", "a:Abort", "root:Abort", "doc:Abort"}));

    // The same in an attribute value.
    r = Parse(prolog + "<root a='&l9;'/>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.grammar.Count("doc:Start(root)"), 0u);
}

TEST(XercesXMLParserTest, OneParserServesManyParses) {
    XercesXMLParser parser;
    for (int i = 0; i < 3; ++i) {
        Grammar grammar;
        DocumentState document(grammar);
        const std::string good = "<root><int>" + std::to_string(i) + "</int></root>";
        EXPECT_TRUE(parser.ParseBuffer(good.data(), static_cast<unsigned>(good.size()), &document));
        EXPECT_EQ(grammar.numbers, std::vector<int>{i});
        const std::string bad = "<root><int>";
        EXPECT_FALSE(parser.ParseBuffer(bad.data(), static_cast<unsigned>(bad.size()), &document));
        EXPECT_EQ(grammar.live, 0);
    }
    // Without a document state there is nobody to take the document element.
    EXPECT_FALSE(parser.ParseBuffer("<r/>", 4, nullptr));
}

}  // namespace
