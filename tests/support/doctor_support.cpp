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
    reinterpret_cast<IMAGE_FILE_HEADER*>(image + 0x44)->Characteristics = IMAGE_FILE_DLL;
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, image, sizeof image, &written, nullptr);
    CloseHandle(file);
}

void SetKeyAccess(HKEY root, const char* path, bool readable)
{
    SetKeyAccessMask(root, path, readable ? KEY_ALL_ACCESS : WRITE_DAC | DELETE | READ_CONTROL);
}

void SetKeyAccessMask(HKEY root, const char* path, DWORD access)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    PSID everyone = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    EXPLICIT_ACCESSA entry = {};
    entry.grfAccessPermissions = access;
    entry.grfAccessMode = SET_ACCESS;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.ptstrName = static_cast<LPSTR>(everyone);
    PACL acl = nullptr;
    SetEntriesInAclA(1, &entry, nullptr, &acl);
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

std::string ShellfindCommandIn(const std::string& line)
{
    const size_t fix = line.find(" -- ");
    const size_t program = line.find("shellfind.exe\" ", fix);
    if (fix == std::string::npos || program == std::string::npos)
        return std::string();
    const size_t open = line.rfind('"', program);
    size_t end = line.find(' ', program + 15);
    const std::string verb = line.substr(program + 15, end - (program + 15));
    if (verb == "register")
        end = line.find('"', line.find('"', end) + 1) + 1;
    return line.substr(open, end - open);
}

namespace {

// Every key below root\\path but the classes, which hold thousands of keys of other programs.
void ExportAllButClasses(
    HKEY root, const std::string& path, const std::string& label, RegistryExport& into)
{
    RegistryExport part;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        const std::string child = path + "\\" + name;
        if (lstrcmpiA(name, "Classes") == 0)
            continue;
        if (lstrcmpiA(name, "Wow6432Node") == 0)
            ExportAllButClasses(root, child, label, into);
        else
            ExportKeys(root, child, part);
    }
    RegCloseKey(key);
    for (const auto& entry : part)
        into[label + entry.first] = entry.second;
}

} // namespace

RegistryExport SoftwareSnapshot()
{
    RegistryExport all;
    ExportAllButClasses(HKEY_LOCAL_MACHINE, "Software", "HKLM\\", all);
    ExportAllButClasses(HKEY_CURRENT_USER, "Software", "HKCU\\", all);
    // Of the classes, the keys a registration could reach: the CLSID key's own values, our
    // class, and the player's preferences, in both views.
    for (const char* root : {"Software\\Classes", "Software\\Classes\\Wow6432Node"}) {
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            const std::string label = hive == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\";
            RegistryExport part;
            for (const std::string& below :
                {std::string("\\") + ClassKey, std::string("\\Software")})
                ExportKeys(hive, root + below, part);
            RegistryValue ownValues = QueryValue(hive, (std::string(root) + "\\CLSID").c_str());
            part[std::string(root) + "\\CLSID[]"]
                = ownValues.found ? std::string(ownValues.data.begin(), ownValues.data.end()) : "";
            for (const auto& entry : part)
                all[label + entry.first] = entry.second;
        }
    }
    return all;
}

RegistryExport OurKeysSnapshot()
{
    RegistryExport all;
    const struct {
        HKEY root;
        const char* label;
        const char* path;
    } keys[] = {{HKEY_CLASSES_ROOT, "HKCR\\", ClassKey},
        {HKEY_CLASSES_ROOT, "HKCR\\", PreferencesRoot}, {HKEY_LOCAL_MACHINE, "HKLM\\", StaticKey},
        {HKEY_LOCAL_MACHINE, "HKLM\\", PoliciesKey}, {HKEY_LOCAL_MACHINE, "HKLM\\", ApprovedKey},
        {HKEY_LOCAL_MACHINE, "HKLM\\", BlockedKey}, {HKEY_CURRENT_USER, "HKCU\\", PoliciesKey},
        {HKEY_CURRENT_USER, "HKCU\\", ApprovedKey}, {HKEY_CURRENT_USER, "HKCU\\", BlockedKey}};
    for (const auto& key : keys) {
        RegistryExport part;
        ExportKeys(key.root, key.path, part);
        for (const auto& entry : part)
            all[key.label + entry.first] = entry.second;
    }
    return all;
}

std::string ChangedKeys(const RegistryExport& before, const RegistryExport& after, Changes which)
{
    const std::string classes = "Software\\Classes\\";
    const std::string ours[] = {"HKLM\\" + classes + ClassKey, "HKLM\\" + std::string(StaticKey),
        "HKLM\\" + classes + MainAppKey, "HKLM\\" + classes + SatelliteKey,
        "HKCU\\" + classes + ClassKey, "HKCU\\" + classes + MainAppKey,
        "HKCU\\" + classes + SatelliteKey, "HKCR\\" + std::string(ClassKey),
        "HKCR\\" + std::string(MainAppKey), "HKCR\\" + std::string(SatelliteKey)};
    auto isOurs = [&ours](const std::string& path) {
        for (const std::string& key : ours) {
            if (path.size() >= key.size()
                && lstrcmpiA(path.substr(0, key.size()).c_str(), key.c_str()) == 0
                && (path.size() == key.size() || path[key.size()] == '\\'
                    || path[key.size()] == '['))
                return true;
        }
        return false;
    };
    // Wine lists the network adapters here when a process first asks for them.
    auto isWines = [](const std::string& path) {
        return path.find("\\CurrentVersion\\NetworkCards") != std::string::npos;
    };
    auto counts = [&](const std::string& path) {
        return !isWines(path)
            && (which == Changes::All || (which == Changes::OutsideOurKeys) != isOurs(path));
    };
    std::string changes;
    for (const auto& entry : before) {
        auto other = after.find(entry.first);
        if ((other == after.end() || other->second != entry.second) && counts(entry.first))
            changes += (other == after.end() ? "removed: " : "changed: ") + entry.first + "\n";
    }
    for (const auto& entry : after) {
        if (which != Changes::OursLost && before.count(entry.first) == 0 && counts(entry.first))
            changes += "added: " + entry.first + "\n";
    }
    return changes;
}

std::string BackupPathIn(const std::string& output)
{
    const size_t line = output.find("backup: ");
    return line == std::string::npos
        ? std::string()
        : output.substr(line + 8, output.find_first_of("\r\n", line) - line - 8);
}
