#include "Platform/Machine.h"
#include "Platform/Security.h"
#include "Platform/Spooler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Platform::AccessEntry;

EXPLICIT_ACCESS_W Entry(const char16_t* trustee, DWORD mask, ACCESS_MODE mode, DWORD inheritance) {
    EXPLICIT_ACCESS_W entry{};
    entry.grfAccessPermissions = mask;
    entry.grfAccessMode = mode;
    entry.grfInheritance = inheritance;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    entry.Trustee.ptstrName = const_cast<LPWSTR>(trustee);
    return entry;
}

class QueueSecurity : public ::testing::Test {
protected:
    QueueSecurity() { Spool().AddPrinter(u"P", u"WLP001:", u"D"); }
    ~QueueSecurity() override { EXPECT_EQ(Platform::LiveLocalBlocks(), blocks_); }

    Platform::PrintSpooler& Spool() { return Platform::GetMachine().Spooler(); }
    std::vector<AccessEntry> Stored() { return Spool().FindPrinter(u"P")->access; }

    HANDLE Open(ACCESS_MASK access) {
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
        HANDLE printer = nullptr;
        EXPECT_TRUE(OpenPrinterW(u"P", &printer, &defaults));
        return printer;
    }

    // Reads the list, applies the entries, writes it back, as a program would.
    DWORD Apply(HANDLE printer, std::vector<EXPLICIT_ACCESS_W> entries) {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD error = GetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                      nullptr, &descriptor);
        if (error != ERROR_SUCCESS) return error;
        PACL updated = nullptr;
        error = SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), dacl, &updated);
        if (error == ERROR_SUCCESS) {
            error = SetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, updated,
                                    nullptr);
        }
        EXPECT_EQ(LocalFree(updated), nullptr);
        EXPECT_EQ(LocalFree(descriptor), nullptr);
        return error;
    }

    Platform::ScopedFreshMachine machine_;
    std::size_t blocks_ = Platform::LiveLocalBlocks();
};

TEST_F(QueueSecurity, GrantEveryoneIsStoredWithTheQueue) {
    HANDLE printer = Open(PRINTER_ALL_ACCESS);
    EXPECT_EQ(Apply(printer, {Entry(u"EVERYONE", 0x1FFFFF, GRANT_ACCESS, OBJECT_INHERIT_ACE)}), ERROR_SUCCESS);
    EXPECT_EQ(Stored(), (std::vector<AccessEntry>{{u"EVERYONE", 0x1FFFFF, GRANT_ACCESS, OBJECT_INHERIT_ACE}}));

    // What was stored reads back through the descriptor.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              ERROR_SUCCESS);
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
    EXPECT_EQ(dacl->AceCount, 1);
    EXPECT_EQ(static_cast<SECURITY_DESCRIPTOR*>(descriptor)->Dacl, dacl);
    EXPECT_EQ(LocalFree(descriptor), nullptr);
    EXPECT_EQ(LocalFree(descriptor), descriptor);  // twice: refused
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ClosePrinter(printer);
}

TEST_F(QueueSecurity, EntriesMergeReplaceDenyAndRevoke) {
    HANDLE printer = Open(PRINTER_ALL_ACCESS);
    ASSERT_EQ(
        Apply(printer, {Entry(u"EVERYONE", 0x8, GRANT_ACCESS, OBJECT_INHERIT_ACE),
                        Entry(u"everyone", 0x4, GRANT_ACCESS, OBJECT_INHERIT_ACE),  // same grant: merged
                        Entry(u"Users", 0x8, GRANT_ACCESS, NO_INHERITANCE), Entry(u"Guest", 0x8, DENY_ACCESS, 0)}),
        ERROR_SUCCESS);
    EXPECT_EQ(Stored(), (std::vector<AccessEntry>{{u"Guest", 0x8, DENY_ACCESS, 0},
                                                  {u"EVERYONE", 0xC, GRANT_ACCESS, OBJECT_INHERIT_ACE},
                                                  {u"Users", 0x8, GRANT_ACCESS, 0}}));
    ASSERT_EQ(Apply(printer, {Entry(u"USERS", 0x1, SET_ACCESS, 0), Entry(u"guest", 0, REVOKE_ACCESS, 0)}),
              ERROR_SUCCESS);
    EXPECT_EQ(Stored(), (std::vector<AccessEntry>{{u"EVERYONE", 0xC, GRANT_ACCESS, OBJECT_INHERIT_ACE},
                                                  {u"USERS", 0x1, GRANT_ACCESS, 0}}));

    auto bySid = Entry(u"S-1-1-0", 0x1, GRANT_ACCESS, 0);
    bySid.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    PACL updated = nullptr;
    EXPECT_EQ(SetEntriesInAclW(1, &bySid, nullptr, &updated), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(updated, nullptr);
    ClosePrinter(printer);
}

TEST_F(QueueSecurity, RightsAndHandles) {
    HANDLE user = Open(PRINTER_ACCESS_USE);  // neither READ_CONTROL nor WRITE_DAC
    EXPECT_EQ(Apply(user, {Entry(u"EVERYONE", 0x1FFFFF, GRANT_ACCESS, 0)}), ERROR_ACCESS_DENIED);
    HANDLE reader = Open(PRINTER_READ);
    EXPECT_EQ(Apply(reader, {Entry(u"EVERYONE", 0x1FFFFF, GRANT_ACCESS, 0)}), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Stored().empty());
    ClosePrinter(user);
    ClosePrinter(reader);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetSecurityInfo(user, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              ERROR_INVALID_HANDLE);
    HANDLE printer = Open(PRINTER_ALL_ACCESS);
    EXPECT_EQ(GetSecurityInfo(printer, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              ERROR_INVALID_PARAMETER);
    ACL forged{9, 0, sizeof(ACL), 0, 0};
    EXPECT_NE(
        SetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &forged, nullptr),
        ERROR_SUCCESS);
    ACL lying{ACL_REVISION, 0, sizeof(ACL), 3, 0};  // entries it has no room for
    EXPECT_NE(SetSecurityInfo(printer, SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &lying, nullptr),
              ERROR_SUCCESS);
    ClosePrinter(printer);
}

}  // namespace
