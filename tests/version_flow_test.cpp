// The whole flow a user meets, under each Windows version the entry targets: Wine's regsvr32
// registers the module installed beside the player, the shell stand-in lists and invokes the
// entry, the player starts with /search, and regsvr32 /u takes every key away again. Wine reports
// the version set for a program in HKCU\Software\Wine\AppDefaults\<exe>\Version when the program
// starts: these are Wine's version profiles, not the real systems.
#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

constexpr char NewerMenuText[] = "For Internet &Audio/Video...";
constexpr char OlderMenuText[] = "Internet &Audio/Video...";
const char* const ProgramsUnderTheVersion[] = {"regsvr32.exe", "shellfind.exe", "msiexec.exe"};

class VersionFlowTest : public RegistryTest {
protected:
    void TearDown() override
    {
        for (const char* program : ProgramsUnderTheVersion)
            SetWineVersion(program, nullptr);
        RegistryTest::TearDown();
    }
};

} // namespace

TEST_F(VersionFlowTest, RegisterListInvokeUnregisterOnEveryTargetedVersion)
{
    // The player path is quoted, as the launch accepts: the registered path must still load.
    const std::string directory = "C:\\Program Files\\Kestrovane Flow";
    const std::string module = directory + "\\" + ModuleFile;
    InstallPlayer(directory + "\\player.exe");
    ASSERT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), module.c_str(), FALSE));
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "\"" + directory + "\\player.exe\"");

    const struct {
        const char* version;
        const char* menuText;
    } cases[] = {
        {"win95", OlderMenuText}, // platform 1, 4.0
        {"win98", OlderMenuText}, // platform 1, 4.10
        {"winme", NewerMenuText}, // platform 1, 4.90
        {"nt40", OlderMenuText}, // platform 2, 4.0
        {"win2k", NewerMenuText}, // platform 2, 5.0
        {"winxp", NewerMenuText}, // platform 2, 5.1
    };
    const std::string regsvr = "\"" + SystemProgram("regsvr32.exe") + "\" /s ";
    const std::string shellfind = "\"" + BinPath("shellfind.exe") + "\"";
    for (const auto& c : cases) {
        for (const char* program : ProgramsUnderTheVersion)
            SetWineVersion(program, c.version);
        PlayerLog log;

        ASSERT_EQ(0, RunProgram(regsvr + "\"" + module + "\"")) << c.version;
        EXPECT_EQ(c.menuText, QueryValue(HKEY_LOCAL_MACHINE, MenuKey).Text()) << c.version;
        EXPECT_EQ(module, QueryValue(HKEY_CLASSES_ROOT, ServerKey).Text()) << c.version;
        EXPECT_EQ(module, QueryValue(HKEY_LOCAL_MACHINE, IconKey).Text()) << c.version;

        EXPECT_EQ(0, RunProgram(shellfind + " list")) << c.version << ": the entry is broken";
        EXPECT_EQ(0, RunProgram(shellfind + " invoke Orbelquest")) << c.version;
        std::vector<std::string> lines = log.WaitForLines(1);
        ASSERT_EQ(1u, lines.size()) << c.version << ": the player was not started once";
        EXPECT_EQ(directory + "\\player.exe|\"" + directory + "\\player.exe\" /search", lines[0])
            << c.version;

        ASSERT_EQ(0, RunProgram(regsvr + "/u \"" + module + "\"")) << c.version;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey)) << c.version;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, StaticKey)) << c.version;
        EXPECT_EQ(3, RunProgram(shellfind + " invoke Orbelquest")) << c.version << ": entry gone";
    }
}

// The installer package chooses the menu text by the same rule as self-registration: under each
// version profile it writes what regsvr32 writes there.
// The x64 package installs only on x64 Windows (XP x64 and later); the x86 one on every release
// from Windows 95.
TEST_F(VersionFlowTest, PackageWritesTheMenuTextRegsvrWritesOnEveryTargetedVersion)
{
#ifdef _WIN64
    const char* const package = "kvshellsearch-x64.msi";
    const char* const versions[] = {"winxp64", "win2003", "vista", "win7"};
#else
    const char* const package = "kvshellsearch-x86.msi";
    const char* const versions[] = {"win95", "win98", "winme", "nt40", "win2k", "winxp"};
#endif
    const std::string directory = "C:\\Program Files\\Kestrovane Versions";
    const std::string module = directory + "\\" + ModuleFile;
    InstallPlayer(directory + "\\player.exe");
    const std::string regsvr = "\"" + SystemProgram("regsvr32.exe") + "\" /s ";
    for (const char* version : versions) {
        SetWineVersion("msiexec.exe", version);
        SetWineVersion("regsvr32.exe", version);
        ResetRegistry();
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, directory + "\\player.exe");

        ASSERT_EQ(0, Msiexec("/i \"" + BinPath(package) + "\"")) << version;
        const RegistryValue fromPackage = QueryValue(HKEY_LOCAL_MACHINE, MenuKey);
        EXPECT_EQ(0, Msiexec("/x \"" + BinPath(package) + "\"")) << version;

        ASSERT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), module.c_str(), FALSE));
        ASSERT_EQ(0, RunProgram(regsvr + "\"" + module + "\"")) << version;
        EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, MenuKey).data, fromPackage.data) << version;
        EXPECT_EQ(0, RunProgram(regsvr + "/u \"" + module + "\"")) << version;
        DeleteFileA(module.c_str());
    }
}

// The system is upgraded under the installed package (NT 4.0 to Windows 2000), then the package
// repaired: the menu text follows the system, as registering again would.
TEST_F(VersionFlowTest, RepairAfterASystemUpgradeWritesTheNewSystemsMenuText)
{
#ifdef _WIN64
    GTEST_SKIP() << "every system the x64 package installs on gets the newer text";
#else
    const std::string msi = "\"" + BinPath("kvshellsearch-x86.msi") + "\"";
    const std::string directory = "C:\\Program Files\\Kestrovane Versions";
    InstallPlayer(directory + "\\player.exe");
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, directory + "\\player.exe");
    SetWineVersion("msiexec.exe", "nt40");
    ASSERT_EQ(0, Msiexec("/i " + msi));
    EXPECT_EQ(OlderMenuText, QueryValue(HKEY_LOCAL_MACHINE, MenuKey).Text());
    SetWineVersion("msiexec.exe", "win2k");
    EXPECT_EQ(0, Msiexec("/i " + msi + " REINSTALL=ALL REINSTALLMODE=amus"));
    EXPECT_EQ(NewerMenuText, QueryValue(HKEY_LOCAL_MACHINE, MenuKey).Text());
    EXPECT_EQ(0, Msiexec("/x " + msi));
#endif
}
