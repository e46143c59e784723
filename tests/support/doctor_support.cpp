#include "support/doctor_support.h"

#include <aclapi.h>

#include <sstream>

void SetNumber(HKEY root, const char* path, const char* name, DWORD value)
{
    SetNamedValue(root, path, name, &value, sizeof value, REG_DWORD);
}

void WriteHeaderOnlyImage(const std::string& path, WORD machine)
{
    BYTE image[0x80] = {};
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image);
    dos->e_magic = IMAGE_DOS_SIGNATURE;
    dos->e_lfanew = 0x40;
    *reinterpret_cast<DWORD*>(image + 0x40) = IMAGE_NT_SIGNATURE;
    reinterpret_cast<IMAGE_FILE_HEADER*>(image + 0x44)->Machine = machine;
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, image, sizeof image, &written, nullptr);
    CloseHandle(file);
}

void SetKeyAccess(HKEY root, const char* path, bool readable)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    PSID everyone = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    EXPLICIT_ACCESSA access = {};
    access.grfAccessPermissions = readable ? KEY_ALL_ACCESS : WRITE_DAC | DELETE | READ_CONTROL;
    access.grfAccessMode = SET_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = static_cast<LPSTR>(everyone);
    PACL acl = nullptr;
    SetEntriesInAclA(1, &access, nullptr, &acl);
    SetSecurityInfo(key, SE_REGISTRY_KEY,
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
        nullptr);
    LocalFree(acl);
    FreeSid(everyone);
    RegCloseKey(key);
}

void ClearPolicies()
{
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        SetKeyAccess(root, BlockedKey, true);
        SetKeyAccess(root, ApprovedKey, true);
    }
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        DeleteTree(root, BlockedKey);
        DeleteTree(root, ApprovedKey);
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, PoliciesKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, PolicyValue);
            RegCloseKey(key);
        }
    }
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

Install MakeHealthyInstall()
{
    Install install;
    install.directory = MakeScratchDirectory();
    install.module = install.directory + "\\" + ModuleFile;
    install.player = install.directory + "\\player.exe";
    InstallPlayer(install.player);
    EXPECT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), install.module.c_str(), FALSE));
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, install.directory + "\\player.exe");
    LoadedModule module(install.module);
    EXPECT_EQ(S_OK, module.RegisterServer());
    return install;
}

std::string FirstLine(const std::string& output, const char* prefix)
{
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) == 0)
            return line;
    }
    return std::string();
}

std::string Shellfind(const std::string& arguments)
{
    return "\"" + BinPath("shellfind.exe") + "\" " + arguments;
}

void DoctorTest::SetUp()
{
    RegistryTest::SetUp();
    ClearPolicies();
    SetWineVersion("shellfind.exe", WindowsXp);
}

void DoctorTest::TearDown()
{
    ClearPolicies();
    SetWineVersion("shellfind.exe", nullptr);
    RegistryTest::TearDown();
}
