// The Windows Installer packages under Wine's msiexec: installed beside the player found through
// its MainApp preference, they write exactly what self-registration writes, repair puts back a
// deleted key, and uninstall removes the file and every key while the player stays. The 64-bit
// suite installs the x64 package and the x86 one (whose keys land in the 32-bit view); the
// 32-bit suite installs the x86 package under 32-bit Wine.
#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

constexpr char PlayerDirectory[] = "C:\\Program Files\\Kestrovane Package";

struct Package {
    const char* file; // beside the test program
    REGSAM view; // the registry view its keys land in
    bool selfRegistrationHere; // whether this suite's regsvr32 can register the same DLL
    const char* dll; // the DLL the package carries, beside the test program
};

#ifdef _WIN64
const Package Packages[] = {
    {"kvshellsearch-x64.msi", KEY_WOW64_64KEY, true, "kvshellsearch.dll"},
    {"kvshellsearch-x86.msi", KEY_WOW64_32KEY, false, "shipped\\kvshellsearch.dll"},
};
#else
const Package Packages[] = {
    {"kvshellsearch-x86.msi", 0, true, "kvshellsearch.dll"},
};
#endif

RegistryExport RegisteredState(REGSAM view)
{
    RegistryExport state;
    ExportKeys(HKEY_CLASSES_ROOT, ClassKey, state, view);
    ExportKeys(HKEY_LOCAL_MACHINE, StaticKey, state, view);
    return state;
}

// What self-registration writes for a player in PlayerDirectory, on Wine's default version.
RegistryExport ExpectedState()
{
    const std::string module = std::string(PlayerDirectory) + "\\kvshellsearch.dll";
    auto text = [](const std::string& value) {
        return "1:" + value + std::string(1, '\0');
    };
    const std::string server = std::string(ClassKey) + "\\InProcServer32";
    return {
        {ClassKey, "(key)"},
        {std::string(ClassKey) + "[]", text("Orbelquest")},
        {server, "(key)"},
        {server + "[]", text(module)},
        {server + "[ThreadingModel]", text("Apartment")},
        {StaticKey, "(key)"},
        {std::string(StaticKey) + "[]", text(ClassIdText)},
        {MenuKey, "(key)"},
        {std::string(MenuKey) + "[]", text("For Internet &Audio/Video...")},
        {IconKey, "(key)"},
        {std::string(IconKey) + "[]", text(module)},
    };
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class InstallerTest : public RegistryTest { };

} // namespace

TEST_F(InstallerTest, InstallRepairUninstallMatchSelfRegistration)
{
    const std::string player = std::string(PlayerDirectory) + "\\player.exe";
    const std::string installed = std::string(PlayerDirectory) + "\\kvshellsearch.dll";
    InstallPlayer(player);
    for (const Package& package : Packages) {
        const std::string msi = "\"" + BinPath(package.file) + "\"";
        ResetRegistry();
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "\"" + player + "\"");

        ASSERT_EQ(0, Msiexec("/i " + msi)) << package.file;
        EXPECT_TRUE(FileExists(installed)) << package.file << ": not installed beside the player";
        const RegistryExport afterInstall = RegisteredState(package.view);
        EXPECT_EQ(ExpectedState(), afterInstall) << package.file;

        // Repair: Wine's msiexec refuses /f (exit 69); the same repair through its properties.
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, IconKey, package.view, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, MenuKey, package.view, 0);
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MenuKey, package.view)) << package.file;
        EXPECT_EQ(0, Msiexec("/i " + msi + " REINSTALL=ALL REINSTALLMODE=amus")) << package.file;
        EXPECT_EQ(afterInstall, RegisteredState(package.view)) << package.file << " after repair";

        EXPECT_EQ(0, Msiexec("/x " + msi)) << package.file;
        EXPECT_FALSE(FileExists(installed)) << package.file;
        EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file << ": keys left";
        EXPECT_TRUE(FileExists(player)) << package.file << ": the player went too";
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, MainAppKey))
            << package.file << ": preference gone";

        if (package.selfRegistrationHere) {
            ASSERT_TRUE(CopyFileA(BinPath(package.dll).c_str(), installed.c_str(), FALSE));
            const std::string regsvr = "\"" + SystemProgram("regsvr32.exe") + "\" /s ";
            ASSERT_EQ(0, RunProgram(regsvr + "\"" + installed + "\""));
            EXPECT_EQ(afterInstall, RegisteredState(package.view))
                << package.file << ": the package and regsvr32 write different keys";
            EXPECT_EQ(0, RunProgram(regsvr + "/u \"" + installed + "\""));
            DeleteFileA(installed.c_str());
        }
    }
}

TEST_F(InstallerTest, WithoutAPlayerTheInstallStopsUnlessInstallDirIsGiven)
{
    const std::string elsewhere = "C:\\Vendor\\Kestrovane";
    for (const Package& package : Packages) {
        const std::string msi = "\"" + BinPath(package.file) + "\"";
        ResetRegistry();
        EXPECT_NE(0, Msiexec("/i " + msi)) << package.file << ": installed without a player";
        EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file;

        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\nowhere\\player.exe");
        EXPECT_NE(0, Msiexec("/i " + msi)) << package.file << ": a player that does not exist";

        ASSERT_EQ(0, Msiexec("/i " + msi + " INSTALLDIR=\"" + elsewhere + "\"")) << package.file;
        EXPECT_TRUE(FileExists(elsewhere + "\\kvshellsearch.dll")) << package.file;
        EXPECT_EQ(elsewhere + "\\kvshellsearch.dll",
            RegisteredState(package.view)[std::string(ClassKey) + "\\InProcServer32[]"].substr(
                2, elsewhere.size() + 18))
            << package.file;
        EXPECT_EQ(0, Msiexec("/x " + msi)) << package.file;
        EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file;
    }
}
