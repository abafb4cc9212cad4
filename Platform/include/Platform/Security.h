// Access lists of print queues: reading a queue's DACL, adding entries to
// a list, writing it back. A list names its trustees by name ("EVERYONE"),
// which is all the programs here use; the spooler keeps each queue's list
// (PrinterQueue::access).
//
// Lists and descriptors come in blocks from LocalAlloc: the caller frees
// the descriptor GetSecurityInfo answers and the list SetEntriesInAclW
// answers with LocalFree. A list's bytes after its header are the layer's
// own; hand them only to these calls.
#pragma once

#include "Platform/Spooler.h"
#include "Platform/Win32.h"

#include <cstddef>

using HLOCAL = void*;
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;
// A zeroed block the caller may address directly; null with
// ERROR_NOT_ENOUGH_MEMORY when it cannot be had.
HLOCAL LocalAlloc(UINT flags, std::size_t bytes);
// Null on success; the block itself (ERROR_INVALID_HANDLE) when it is not
// a live block.
HLOCAL LocalFree(HLOCAL memory);

constexpr BYTE ACL_REVISION = 2;

struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
using PACL = ACL*;
using PSID = void*;

struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};
using PSECURITY_DESCRIPTOR = void*;

using SECURITY_INFORMATION = DWORD;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x00000004;

enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT, SE_SERVICE, SE_PRINTER, SE_REGISTRY_KEY };
constexpr SE_OBJECT_TYPE SE_PRINTER_OBJECT = SE_PRINTER;

enum ACCESS_MODE { NOT_USED_ACCESS = 0, GRANT_ACCESS, SET_ACCESS, DENY_ACCESS, REVOKE_ACCESS };

constexpr DWORD NO_INHERITANCE = 0x0;
constexpr DWORD OBJECT_INHERIT_ACE = 0x1;
constexpr DWORD CONTAINER_INHERIT_ACE = 0x2;

enum MULTIPLE_TRUSTEE_OPERATION { NO_MULTIPLE_TRUSTEE, TRUSTEE_IS_IMPERSONATE };
enum TRUSTEE_FORM { TRUSTEE_IS_SID, TRUSTEE_IS_NAME, TRUSTEE_BAD_FORM };
enum TRUSTEE_TYPE {
    TRUSTEE_IS_UNKNOWN,
    TRUSTEE_IS_USER,
    TRUSTEE_IS_GROUP,
    TRUSTEE_IS_DOMAIN,
    TRUSTEE_IS_ALIAS,
    TRUSTEE_IS_WELL_KNOWN_GROUP
};

struct TRUSTEE_W {
    TRUSTEE_W* pMultipleTrustee;
    MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
    TRUSTEE_FORM TrusteeForm;
    TRUSTEE_TYPE TrusteeType;
    LPWSTR ptstrName;
};

struct EXPLICIT_ACCESS_W {
    DWORD grfAccessPermissions;
    ACCESS_MODE grfAccessMode;
    DWORD grfInheritance;
    TRUSTEE_W Trustee;
};
using PEXPLICIT_ACCESS_W = EXPLICIT_ACCESS_W*;

// Printer handles only (SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION);
// reading needs READ_CONTROL, writing WRITE_DAC. Results are error codes.
// *dacl points into *descriptor.
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group, PACL dacl,
                      PACL sacl);

// A new list: the old one (may be null) with the entries applied in order.
// GRANT_ACCESS adds the rights to the trustee's grant of the same
// inheritance (or a new grant); SET_ACCESS replaces the trustee's entries;
// DENY_ACCESS puts a denial first; REVOKE_ACCESS removes the trustee's
// entries. Trustees by name only, compared ignoring case.
DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl);

namespace Platform {
// Blocks from LocalAlloc not yet freed (leak checks).
std::size_t LiveLocalBlocks();
}  // namespace Platform
