#include "Windows/Common/ResourceDLL.h"

#include "Platform/AfxResource.h"
#include "Platform/Resource.h"
#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Every test starts with no library loaded and the program's own resource
// handle current. The library goes by a name of the tests' own, so that a
// resource library installed beside the programs does not answer for it.
constexpr char16_t kLibraryName[] = u"VELMOTESTRES.DLL";

class ResourceDLLTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResourceDLL::Reset(kLibraryName);
        saved_ = AfxGetResourceHandle();
    }
    void TearDown() override {
        ResourceDLL::Reset();
        AfxSetResourceHandle(saved_);
    }

    static Platform::ResourceRegistration RegisterLibrary() {
        Platform::ResourceTable table;
        table.strings[100] = u"Hello";
        table.strings[101] = std::u16string(1100, u'x');
        return Platform::RegisterResourceModule(kLibraryName, table);
    }

    HINSTANCE saved_ = nullptr;
};

std::string MessageOf(unsigned id) {
    try {
        StResourceString text(id);
    } catch (const Tessary::TSException& e) {
        return e.what();
    }
    return "no exception";
}

TEST_F(ResourceDLLTest, StringsComeFromTheLibrary) {
    auto library = RegisterLibrary();
    EXPECT_EQ(std::u16string(StResourceString(100)), u"Hello");
    EXPECT_TRUE(ResourceDLL().Load());
    EXPECT_NE(ResourceDLL::Handle(), nullptr);

    WCHAR buffer[16];
    EXPECT_EQ(ResourceDLL().LoadString(100, buffer, 16), 5);
    EXPECT_EQ(std::u16string(buffer), u"Hello");
}

TEST_F(ResourceDLLTest, UnknownIdThrowsTheExactText) {
    auto library = RegisterLibrary();
    EXPECT_EQ(MessageOf(4242), "Invalid string ID passed to StResourceString constructor");
}

TEST_F(ResourceDLLTest, LongStringIsCutTo1023UnitsAndATerminator) {
    auto library = RegisterLibrary();
    StResourceString text(101);
    const WCHAR* units = text;
    EXPECT_EQ(std::u16string(units), std::u16string(1023, u'x'));
}

TEST_F(ResourceDLLTest, MissingLibraryFailsCleanlyAndIsRetriedLater) {
    const HINSTANCE before = AfxGetResourceHandle();
    EXPECT_FALSE(ResourceDLL().Load());
    EXPECT_EQ(MessageOf(100), "Invalid string ID passed to StResourceString constructor");
    {
        ResourceDLLScope scope;
        EXPECT_EQ(AfxGetResourceHandle(), before);
    }
    EXPECT_EQ(AfxGetResourceHandle(), before);

    // Without the library, strings come from the program itself.
    Platform::ResourceTable own;
    own.strings[5] = u"own";
    auto main = Platform::RegisterMainResources(own);
    WCHAR buffer[8];
    EXPECT_EQ(ResourceDLL().LoadString(5, buffer, 8), 3);

    auto library = RegisterLibrary();
    EXPECT_TRUE(ResourceDLL().Load());
    EXPECT_EQ(std::u16string(StResourceString(100)), u"Hello");
}

TEST_F(ResourceDLLTest, NestedScopesRestoreTheOuterHandle) {
    auto library = RegisterLibrary();
    const HINSTANCE outer = AfxGetResourceHandle();
    ASSERT_NE(outer, nullptr);
    {
        ResourceDLLScope first;
        const HINSTANCE loaded = ResourceDLL::Handle();
        ASSERT_NE(loaded, nullptr);
        EXPECT_NE(loaded, outer);
        EXPECT_EQ(AfxGetResourceHandle(), loaded);
        {
            ResourceDLLScope second;
            EXPECT_EQ(AfxGetResourceHandle(), loaded);
        }
        EXPECT_EQ(AfxGetResourceHandle(), loaded);
    }
    EXPECT_EQ(AfxGetResourceHandle(), outer);

    // A null current handle is left alone.
    AfxSetResourceHandle(nullptr);
    {
        ResourceDLLScope scope;
        EXPECT_EQ(AfxGetResourceHandle(), nullptr);
    }
    EXPECT_EQ(AfxGetResourceHandle(), nullptr);
}

TEST(ThreadResourceDLL, ConcurrentLoadsKeepOneHandleAndGiveBackTheRest) {
    ResourceDLL::Reset();
    Platform::ResourceTable table;
    table.strings[1] = u"x";
    auto library = Platform::RegisterResourceModule(u"ORVRES.DLL", table);

    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] { EXPECT_TRUE(ResourceDLL().Load()); });
    }
    for (auto& t : threads) t.join();
    const HINSTANCE loaded = ResourceDLL::Handle();
    ASSERT_NE(loaded, nullptr);
    EXPECT_NE(Platform::GetModuleResources(loaded), nullptr);

    // One reference is left, so one release unloads it.
    ResourceDLL::Reset();
    EXPECT_EQ(Platform::GetModuleResources(loaded), nullptr);
}

}  // namespace
