// Support for the registry tests; see registry_support.h.
#include "registry_support.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include "win_test.h"

namespace qt {

void CreateKey(HKEY root, const std::string& path, REGSAM view)
{
    SetRegistryString(root, path, "marker", "x", view);
}

void DenyDelete(HKEY root, const std::string& path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key));
    EXPLICIT_ACCESSA rules[2] = {};
    BuildExplicitAccessWithNameA(&rules[0], const_cast<char*>("EVERYONE"), DELETE, DENY_ACCESS, NO_INHERITANCE);
    BuildExplicitAccessWithNameA(&rules[1], const_cast<char*>("EVERYONE"), KEY_ALL_ACCESS & ~DELETE, GRANT_ACCESS,
                                 NO_INHERITANCE);
    PACL acl = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclA(2, rules, nullptr, &acl));
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
    LocalFree(acl);
    RegCloseKey(key);
}

void AllowDelete(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return;
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(key);
}

void CreateRegistryLink(HKEY root, const std::string& path, const std::string& target, REGSAM view)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                             KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr, &key, nullptr))
        << path;
    // The link's target is a Unicode text without its terminating NUL.
    std::wstring wide(target.begin(), target.end());
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                            reinterpret_cast<const BYTE*>(wide.data()), DWORD(wide.size() * 2)));
    RegCloseKey(key);
}

void DeleteRegistryLink(HKEY root, const std::string& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), REG_OPTION_OPEN_LINK, DELETE | view, &key) != ERROR_SUCCESS)
        return;
    typedef LONG(NTAPI * DeleteKeyProc)(HANDLE);
    auto deleteKey = reinterpret_cast<DeleteKeyProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    EXPECT_EQ(0, deleteKey(key)) << path;
    RegCloseKey(key);
}

}  // namespace qt
