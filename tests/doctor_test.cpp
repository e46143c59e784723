// shellfind doctor on a broken machine: each row breaks one thing of a healthy install under a
// Windows XP profile, runs the doctor, and looks for its exit code and the line that names the
// fault.
#include <windows.h>
#include <aclapi.h>

#include <sstream>
#include <string>

#include "support/test_support.h"

namespace {

constexpr char PoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char ApprovedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr char BlockedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Blocked";
constexpr char PolicyValue[] = "EnforceShellExtensionSecurity";
#ifdef _WIN64
constexpr char WindowsXp[] = "winxp64";
constexpr WORD OwnMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD OtherMachine = IMAGE_FILE_MACHINE_I386;
#else
constexpr char WindowsXp[] = "winxp";
constexpr WORD OwnMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD OtherMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

struct Install {
    std::string directory;
    std::string module;
};

void SetNumber(HKEY root, const char* path, const char* name, DWORD value)
{
    SetNamedValue(root, path, name, &value, sizeof value, REG_DWORD);
}

// Headers and nothing else: a file that says it is an image for that processor, and cannot load.
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

// Leaves the key to its owner's WRITE_DAC and DELETE: nobody may read it until it is opened up.
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
    SetKeyAccess(HKEY_CURRENT_USER, BlockedKey, true);
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

class DoctorTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        ClearPolicies();
        SetWineVersion("shellfind.exe", WindowsXp);
    }
    void TearDown() override
    {
        ClearPolicies();
        SetWineVersion("shellfind.exe", nullptr);
        RegistryTest::TearDown();
    }
};

// The module and the stand-in player in a fresh directory, registered there.
Install MakeHealthyInstall()
{
    Install install;
    install.directory = MakeScratchDirectory();
    install.module = install.directory + "\\" + ModuleFile;
    InstallPlayer(install.directory + "\\player.exe");
    EXPECT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), install.module.c_str(), FALSE));
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, install.directory + "\\player.exe");
    LoadedModule module(install.module);
    EXPECT_EQ(S_OK, module.RegisterServer());
    return install;
}

// The first FAULT line, or the whole output when there is none.
std::string FirstFault(const std::string& output)
{
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("FAULT", 0) == 0)
            return line;
    }
    return std::string();
}

} // namespace

TEST_F(DoctorTest, NamesEachBrokenStateWithItsExitCode)
{
    const struct {
        const char* state;
        void (*breakIt)(const Install&);
        int exitCode;
        const char* line; // in the first FAULT line; in the output when the exit code is 0
    } cases[] = {
        {"healthy", [](const Install&) {}, 0, "every check is ok"},
        {"approval enforced, class approved",
            [](const Install&) {
                SetNumber(HKEY_CURRENT_USER, PoliciesKey, PolicyValue, 1);
                SetNamedValue(
                    HKEY_LOCAL_MACHINE, ApprovedKey, ClassIdText, "Orbelquest", 11, REG_SZ);
            },
            0, "approval is enforced and the class is approved (machine)"},
        {"Windows Vista",
            [](const Install&) {
                SetWineVersion("shellfind.exe", "vista");
            },
            11, "has no Find/Search menu"},
        {"no entry",
            [](const Install&) {
                DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
            },
            3, "is missing (no such key)"},
        {"entry names no class",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, StaticKey, "Orbelquest");
            },
            4, "names no class: \"Orbelquest\""},
        {"class not registered",
            [](const Install&) {
                DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
            },
            4, "InProcServer32) is missing"},
        {"module file gone",
            [](const Install& i) {
                DeleteFileA(i.module.c_str());
            },
            4, "does not exist"},
        {"module of the other bitness",
            [](const Install& i) {
                WriteHeaderOnlyImage(i.module, OtherMachine);
            },
            4, "but only a"},
        {"threading model",
            [](const Install&) {
                SetNamedValue(HKEY_CLASSES_ROOT, ServerKey, "ThreadingModel", "Free", 5, REG_SZ);
            },
            4, "is \"Free\", not \"Apartment\""},
        {"module does not load",
            [](const Install& i) {
                WriteHeaderOnlyImage(i.module, OwnMachine);
            },
            5, "does not load"},
        {"stale menu text after a system upgrade",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "Internet &Audio/Video...");
            },
            7, "registration writes \"For Internet &Audio/Video...\" on this system now"},
        {"stale menu text after the translation changed",
            [](const Install&) {
                SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, BinPath("kvshellsearch-de.dll"));
            },
            7, "but registration writes"},
        {"menu text of the wrong type",
            [](const Install&) {
                SetNumber(HKEY_LOCAL_MACHINE, MenuKey, nullptr, 1);
            },
            7, "has the wrong type (REG_DWORD)"},
        {"menu text without its zero",
            [](const Install&) {
                // A byte other than zero behind the counted ones: else the system adds the zero.
                SetDefaultValue(
                    HKEY_LOCAL_MACHINE, MenuKey, "For Internet &Audio/Video...!", 28, REG_SZ);
            },
            7, "without its terminating zero"},
        {"menu text very long",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, std::string(70000, 'A'));
            },
            7, "longer than the 1023 characters"},
        {"icon cannot be extracted",
            [](const Install& i) {
                SetDefaultText(HKEY_LOCAL_MACHINE, IconKey, i.directory + "\\player.exe");
            },
            8, "no icon can be extracted"},
        {"player's path missing",
            [](const Install&) {
                DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
            },
            9, "the player's path"},
        {"player gone",
            [](const Install& i) {
                DeleteFileA((i.directory + "\\player.exe").c_str());
            },
            9, "player.exe\", which does not exist"},
        {"translation does not load",
            [](const Install& i) {
                SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, i.directory + "\\missing.dll");
            },
            9, "does not load as resources"},
        {"translation lacks a string",
            [](const Install&) {
                SetDefaultText(
                    HKEY_CLASSES_ROOT, SatelliteKey, BinPath("test_satellite_partial.dll"));
            },
            9, "lacks string 1"},
        {"approval enforced, class not approved",
            [](const Install&) {
                SetNumber(HKEY_LOCAL_MACHINE, PoliciesKey, PolicyValue, 1);
            },
            10, "is not approved"},
        {"approval policy of the wrong type",
            [](const Install&) {
                SetNamedValue(HKEY_CURRENT_USER, PoliciesKey, PolicyValue, "1", 2, REG_SZ);
            },
            10, "cannot be told"},
        {"class blocked",
            [](const Install&) {
                SetNamedValue(HKEY_CURRENT_USER, BlockedKey, ClassIdText, "", 1, REG_SZ);
            },
            10, "is blocked (HKCU"},
        {"blocked list cannot be opened",
            [](const Install&) {
                SetKeyAccess(HKEY_CURRENT_USER, BlockedKey, false);
            },
            10, "blocked shell extensions"},
    };
    const std::string doctor = "\"" + BinPath("shellfind.exe") + "\" doctor";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        ResetRegistry();
        ClearPolicies();
        SetWineVersion("shellfind.exe", WindowsXp);
        const Install install = MakeHealthyInstall();
        c.breakIt(install);

        std::string output;
        const int exitCode = RunProgram(doctor, output);
        EXPECT_EQ(c.exitCode, exitCode) << output;
        if (c.exitCode == 0) {
            EXPECT_EQ("", FirstFault(output)) << output;
            EXPECT_NE(std::string::npos, output.find(c.line)) << output;
        } else {
            EXPECT_NE(std::string::npos, FirstFault(output).find(c.line)) << output;
        }
    }
}
