// The Windows Installer packages under Wine's msiexec: installed beside the player found through
// its MainApp preference, they write exactly what self-registration writes, repair puts back a
// deleted key, and uninstall removes the files and every key while the player stays. The 64-bit
// suite installs the x64 and x86 packages (the x86 one's keys land in the 32-bit view), also side
// by side; the 32-bit suite installs the x86 packages under 32-bit Wine.
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "support/installer_support.h"

namespace {

constexpr char PlayerDirectory[] = "C:\\Program Files\\Kestrovane Package";
constexpr char DefaultDirectory[] = "C:\\Kestrovane";
constexpr char RememberedKey[] = "SOFTWARE\\Tessalquorin\\Kestrovane Search Shell Extension";

struct Package {
    std::string file; // beside the test program
    REGSAM view; // the registry view its keys land in
    bool selfRegistrationHere; // whether this suite's regsvr32 can register the same DLL
    const char* dll; // the DLL the package carries, beside the test program
    const char* installedName; // its name beside the player
    std::string satellite; // a translation's package: the satellite's name beside the player
};

// Each translation's package: its menu text on Wine's default version (string 1), as the bytes
// of its ANSI code page, in which the test must run to read them (the A functions convert to the
// process's code page; Wine takes it from LANG).
struct Translation {
    const char* language;
    UINT codePage;
    const char* menuText;
};
// The build writes a row for each translations/kvshellsearch-LANG.rc, from the script itself.
const Translation Translations[] = {
#include "translations.inc"
};

#ifdef _WIN64
const Package X64 = {"kvshellsearch-x64.msi", KEY_WOW64_64KEY, true, "kvshellsearch64.dll",
    "kvshellsearch64.dll", ""};
const Package X86 = {"kvshellsearch-x86.msi", KEY_WOW64_32KEY, false, "shipped\\kvshellsearch.dll",
    "kvshellsearch.dll", ""};
const Package Packages[] = {X64, X86};
#else
const Package Packages[] = {
    {"kvshellsearch-x86.msi", 0, true, "kvshellsearch.dll", "kvshellsearch.dll", ""},
};
#endif

// The packages of one translation, in this suite's bitnesses.
std::vector<Package> TranslatedPackages(const Translation& translation)
{
    const std::string language = translation.language;
    std::vector<Package> packages;
    for (const Package& english : Packages) {
        Package package = english;
        const bool x64 = english.file == "kvshellsearch-x64.msi";
        package.file = "kvshellsearch-" + language + (x64 ? "-x64.msi" : "-x86.msi");
        package.satellite = (x64 ? "kvshellsearch64-" : "kvshellsearch-") + language + ".dll";
        packages.push_back(package);
    }
    return packages;
}

std::string Beside(const std::string& directory, const char* name)
{
    return directory + "\\" + name;
}

// What self-registration writes for a module at this path, on Wine's default version.
RegistryExport ExpectedState(const std::string& module)
{
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

// A copy of the module beside the player, registered by this suite's regsvr32, as the package's
// keys were: what the two write must be the same.
RegistryExport SelfRegistered(const Package& package, const std::string& installed)
{
    EXPECT_TRUE(CopyFileA(BinPath(package.dll).c_str(), installed.c_str(), FALSE));
    const std::string regsvr = Quoted(SystemProgram("regsvr32.exe")) + " /s ";
    EXPECT_EQ(0, RunProgram(regsvr + Quoted(installed))) << package.file;
    RegistryExport state = RegisteredState(package.view);
    EXPECT_EQ(0, RunProgram(regsvr + "/u " + Quoted(installed))) << package.file;
    DeleteFileA(installed.c_str());
    return state;
}

class InstallerTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        InstallPlayer(player_);
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, Quoted(player_));
    }
    // A test that failed half-way must not leave a product installed for the next one.
    void TearDown() override
    {
        for (const Package& package : Packages)
            Msiexec("/x " + Quoted(BinPath(package.file)));
        for (const Translation& translation : Translations)
            for (const Package& package : TranslatedPackages(translation))
                Msiexec("/x " + Quoted(BinPath(package.file)));
        RegistryTest::TearDown();
    }
    const std::string player_ = Beside(PlayerDirectory, "player.exe");
};

} // namespace

TEST_F(InstallerTest, InstallRepairUninstallMatchSelfRegistration)
{
    for (const Package& package : Packages) {
        const std::string msi = Quoted(BinPath(package.file));
        const std::string installed = Beside(PlayerDirectory, package.installedName);

        ApproveNeighbour(package.view);
        ASSERT_EQ(0, Msiexec("/i " + msi)) << package.file;
        EXPECT_TRUE(FileExists(installed)) << package.file << ": not installed beside the player";
        const RegistryExport afterInstall = RegisteredState(package.view);
        EXPECT_EQ(ExpectedState(installed), afterInstall) << package.file;
        EXPECT_EQ(Approved, Approval(package.view)) << package.file;

        // Repair: Wine's msiexec refuses /f (exit 69); the same repair through its properties.
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, IconKey, package.view, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, MenuKey, package.view, 0);
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MenuKey, package.view)) << package.file;
        EXPECT_EQ(0, Msiexec("/i " + msi + " REINSTALL=ALL REINSTALLMODE=amus")) << package.file;
        EXPECT_EQ(afterInstall, RegisteredState(package.view)) << package.file << " after repair";

        EXPECT_EQ(0, Msiexec("/x " + msi)) << package.file;
        EXPECT_FALSE(FileExists(installed)) << package.file;
        EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file << ": keys left";
        EXPECT_EQ("(none)", Approval(package.view)) << package.file << ": approval left";
        EXPECT_NE("(none)", Approval(package.view, NeighbourClass))
            << package.file << ": another extension's approval went too";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, RememberedKey, package.view)) << package.file;
        EXPECT_TRUE(FileExists(player_)) << package.file << ": the player went too";
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, MainAppKey))
            << package.file << ": preference gone";

        if (package.selfRegistrationHere) {
            EXPECT_EQ(afterInstall, SelfRegistered(package, installed))
                << package.file << ": the package and regsvr32 write different keys";
        }

        // Our value alone: the key it leaves empty goes with it at uninstall.
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, ApprovedKey, package.view, 0);
        ASSERT_EQ(0, Msiexec("/i " + msi)) << package.file;
        EXPECT_EQ(Approved, Approval(package.view)) << package.file;
        EXPECT_EQ(0, Msiexec("/x " + msi)) << package.file;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ApprovedKey, package.view)) << package.file;
    }
}

// A double-click install runs the user interface sequence first, which resolves INSTALLDIR
// before the execute sequence does; and a repair or uninstall after the preference has gone
// must still find the module where it was installed.
TEST_F(InstallerTest, EveryInterfaceLevelInstallsBesideThePlayerAndRepairFindsIt)
{
    for (const Package& package : Packages) {
        const std::string msi = Quoted(BinPath(package.file));
        const std::string installed = Beside(PlayerDirectory, package.installedName);
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, Quoted(player_));

        ASSERT_EQ(0, Msiexec("/i " + msi, "/qr")) << package.file;
        EXPECT_TRUE(FileExists(installed)) << package.file << ": reduced interface";
        EXPECT_FALSE(FileExists(Beside(DefaultDirectory, package.installedName))) << package.file;

        DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
        ASSERT_TRUE(DeleteFileA(installed.c_str())) << package.file;
        EXPECT_EQ(0, Msiexec("/i " + msi + " REINSTALL=ALL REINSTALLMODE=amus")) << package.file;
        EXPECT_TRUE(FileExists(installed)) << package.file << ": repair without the preference";
        EXPECT_FALSE(FileExists(Beside(DefaultDirectory, package.installedName))) << package.file;
        EXPECT_EQ(ExpectedState(installed), RegisteredState(package.view)) << package.file;

        EXPECT_EQ(0, Msiexec("/x " + msi)) << package.file;
        EXPECT_FALSE(FileExists(installed)) << package.file << ": uninstall left the module";
        EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file;
    }
}

TEST_F(InstallerTest, WithoutAPlayerTheInstallStopsUnlessInstallDirIsGiven)
{
    const std::string elsewhere = "C:\\Vendor\\Kestrovane";
    const struct {
        const char* label;
        bool set;
        std::string mainApp;
    } missing[] = {
        {"no preference", false, ""},
        {"a folder that does not exist", true, "C:\\nowhere\\player.exe"},
        {"a missing file in an existing folder", true, Beside(PlayerDirectory, "gone.exe")},
    };
    for (const Package& package : Packages) {
        const std::string msi = Quoted(BinPath(package.file));
        for (const auto& c : missing) {
            DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
            if (c.set)
                SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, c.mainApp);
            EXPECT_NE(0, Msiexec("/i " + msi)) << package.file << ", " << c.label;
            EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file << ", " << c.label;
            EXPECT_FALSE(FileExists(Beside(PlayerDirectory, package.installedName)))
                << package.file << ", " << c.label;
        }

        ASSERT_EQ(0, Msiexec("/i " + msi + " INSTALLDIR=" + Quoted(elsewhere))) << package.file;
        const std::string installed = Beside(elsewhere, package.installedName);
        EXPECT_TRUE(FileExists(installed)) << package.file;
        EXPECT_EQ(ExpectedState(installed), RegisteredState(package.view)) << package.file;
        EXPECT_EQ(0, Msiexec("/x " + msi)) << package.file;
        EXPECT_TRUE(RegisteredState(package.view).empty()) << package.file;
    }
}

// Each translation's package writes the keys that regsvr32 writes when the satellite preference
// names the satellite it installs, and a repair keeps them translated. The preference stays the
// player's. A translation runs where the process's ANSI code page is its own: German and French
// in the suites' default, Russian in the run that CTest starts with LANG=ru_RU.UTF-8 (and
// KV_EXPECT_CODE_PAGE=1251, so that a Wine that ignored LANG fails instead of skipping it).
TEST_F(InstallerTest, TranslatedPackagesWriteWhatTheSatelliteGivesRegsvr)
{
    if (const char* expected = getenv("KV_EXPECT_CODE_PAGE")) {
        ASSERT_EQ(strtoul(expected, nullptr, 10), GetACP()) << "Wine did not take LANG";
    }
    int ran = 0;
    for (const Translation& translation : Translations) {
        if (translation.codePage != GetACP())
            continue;
        ++ran;
        for (const Package& package : TranslatedPackages(translation)) {
            SCOPED_TRACE(package.file);
            const std::string msi = Quoted(BinPath(package.file));
            const std::string installed = Beside(PlayerDirectory, package.installedName);
            const std::string satellite = Beside(PlayerDirectory, package.satellite.c_str());

            ASSERT_EQ(0, Msiexec("/i " + msi));
            EXPECT_TRUE(FileExists(installed) && FileExists(satellite));
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, SatelliteKey))
                << "the preference is not ours";
            const RegistryExport afterInstall = RegisteredState(package.view);
            RegistryExport translated = ExpectedState(installed);
            translated[std::string(MenuKey) + "[]"]
                = "1:" + std::string(translation.menuText) + std::string(1, '\0');
            EXPECT_EQ(translated, afterInstall);
            EXPECT_EQ(Approved, Approval(package.view));

            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, IconKey, package.view, 0);
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, MenuKey, package.view, 0);
            EXPECT_EQ(0, Msiexec("/i " + msi + " REINSTALL=ALL REINSTALLMODE=amus"));
            EXPECT_EQ(afterInstall, RegisteredState(package.view)) << "after repair";

            if (package.selfRegistrationHere) {
                const std::string copy = satellite + ".copy";
                ASSERT_TRUE(CopyFileA(satellite.c_str(), copy.c_str(), FALSE));
                EXPECT_EQ(0, Msiexec("/x " + msi));
                ASSERT_TRUE(MoveFileA(copy.c_str(), satellite.c_str()));
                SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, satellite);
                EXPECT_EQ(afterInstall, SelfRegistered(package, installed))
                    << "the package and regsvr32 write different keys";
                DeleteTree(HKEY_CLASSES_ROOT, SatelliteKey);
                DeleteFileA(satellite.c_str());
            } else {
                EXPECT_EQ(0, Msiexec("/x " + msi));
            }
            EXPECT_FALSE(FileExists(satellite));
            EXPECT_TRUE(RegisteredState(package.view).empty());
        }
    }
    EXPECT_NE(0, ran) << "no translation is in code page " << GetACP();
}

#ifdef _WIN64
namespace {
// The machine a PE file is built for (IMAGE_FILE_MACHINE_I386 or _AMD64), 0 if it is none.
WORD Machine(const std::string& path)
{
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    std::vector<BYTE> head(4096);
    DWORD read = 0;
    ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    if (read < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew + 6 > LONG(read))
        return 0;
    return *reinterpret_cast<const WORD*>(head.data() + dos->e_lfanew + 4);
}

// The 64-bit entry as a 64-bit shell meets it: listed, and its class loading through COM. In a
// process of its own, so that no module stays loaded in this one after the test.
int ListEntries()
{
    return RunProgram(Quoted(BinPath("shellfind.exe")) + " list");
}
} // namespace

#endif

// On a 64-bit system each bitness has its own DLL beside the player and its own registration
// in its own registry view; removing either package leaves the other working.
TEST_F(InstallerTest, BothBitnessesSideBySide)
{
#ifndef _WIN64
    GTEST_SKIP() << "two registry views and both packages: a 64-bit system's";
#else
    const std::string dll64 = Beside(PlayerDirectory, X64.installedName);
    const std::string dll32 = Beside(PlayerDirectory, X86.installedName);
    auto expectBitness
        = [&](const Package& package, const std::string& dll, WORD machine, const char* step) {
              EXPECT_EQ(ExpectedState(dll), RegisteredState(package.view)) << step;
              EXPECT_EQ(machine, Machine(dll)) << step << ": " << dll;
          };
    // The x86 package as a 32-bit installer starts it, where 32-bit programs run.
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string msiexec32 = Quoted(std::string(windows) + "\\SysWOW64\\msiexec.exe");
    auto installX86 = [&]() {
        return Wow64() ? RunProgram(msiexec32 + " /i " + Quoted(BinPath(X86.file)) + " /qn")
                       : Msiexec("/i " + Quoted(BinPath(X86.file)));
    };
    for (const Package* removedFirst : {&X64, &X86}) {
        const Package& stays = removedFirst == &X64 ? X86 : X64;
        ASSERT_EQ(0, installX86());
        ASSERT_EQ(0, Msiexec("/i " + Quoted(BinPath(X64.file))));
        expectBitness(X64, dll64, IMAGE_FILE_MACHINE_AMD64, "both installed");
        expectBitness(X86, dll32, IMAGE_FILE_MACHINE_I386, "both installed");
        EXPECT_EQ(0, ListEntries()) << "both installed";
        // The 64-bit shell's entry works: the 32-bit view, which no shell here reads and whose
        // module this doctor cannot load, decides nothing.
        SetWineVersion("shellfind.exe", "winxp64");
        std::string doctor;
        EXPECT_EQ(0, RunProgram("\"" + BinPath("shellfind.exe") + "\" doctor", doctor)) << doctor;
        // It does not read the 32-bit view's preferences as a 32-bit module would: it says so.
        EXPECT_EQ(std::string::npos, doctor.find("no such key")) << doctor;
        EXPECT_NE(std::string::npos, doctor.find("run the 32-bit shellfind")) << doctor;
        SetWineVersion("shellfind.exe", nullptr);

        ASSERT_EQ(0, Msiexec("/x " + Quoted(BinPath(removedFirst->file))));
        EXPECT_TRUE(RegisteredState(removedFirst->view).empty()) << removedFirst->file;
        if (&stays == &X64) {
            expectBitness(X64, dll64, IMAGE_FILE_MACHINE_AMD64, "x86 package removed");
            EXPECT_EQ(0, ListEntries()) << "x86 package removed";
        } else {
            expectBitness(X86, dll32, IMAGE_FILE_MACHINE_I386, "x64 package removed");
            if (Wow64()) {
                // A 32-bit shell still finds and picks its entry: the 32-bit stand-in.
                const std::string shellfind32 = Quoted(BinPath("shipped\\shellfind.exe"));
                EXPECT_EQ(0, RunProgram(shellfind32 + " list")) << "x64 package removed";
                EXPECT_EQ(0, RunProgram(shellfind32 + " invoke Orbelquest"))
                    << "x64 package removed";
            }
        }
        ASSERT_EQ(0, Msiexec("/x " + Quoted(BinPath(stays.file))));
    }

    // Self-registration side by side: the 64-bit regsvr32 of System32 writes the 64-bit view
    // only. Where 32-bit programs run (a WoW64 Wine), the 32-bit one of SysWOW64 registers the
    // shipped DLL in the 32-bit view only; elsewhere the x86 package stands for it.
    if (Wow64()) {
        ASSERT_TRUE(CopyFileA(BinPath(X86.dll).c_str(), dll32.c_str(), FALSE));
        const RegistryExport before64 = RegisteredState(X64.view);
        const std::string regsvr32 = Quoted(std::string(windows) + "\\SysWOW64\\regsvr32.exe");
        ASSERT_EQ(0, RunProgram(regsvr32 + " /s " + Quoted(dll32)));
        EXPECT_EQ(ExpectedState(dll32), RegisteredState(X86.view)) << "32-bit regsvr32";
        EXPECT_EQ(before64, RegisteredState(X64.view))
            << "the 32-bit regsvr32 wrote the 64-bit view";
    } else {
        ASSERT_EQ(0, Msiexec("/i " + Quoted(BinPath(X86.file))));
    }
    const RegistryExport registered32 = RegisteredState(X86.view);
    EXPECT_EQ(ExpectedState(dll64), SelfRegistered(X64, dll64));
    EXPECT_EQ(registered32, RegisteredState(X86.view)) << "regsvr32 touched the 32-bit view";
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, Machine(dll32));
    if (Wow64()) {
        char windows[MAX_PATH] = {};
        GetWindowsDirectoryA(windows, MAX_PATH);
        EXPECT_EQ(0,
            RunProgram(Quoted(std::string(windows) + "\\SysWOW64\\regsvr32.exe") + " /s /u "
                + Quoted(dll32)));
        EXPECT_TRUE(RegisteredState(X86.view).empty()) << "32-bit regsvr32 /u";
        DeleteFileA(dll32.c_str());
    } else {
        ASSERT_EQ(0, Msiexec("/x " + Quoted(BinPath(X86.file))));
    }
#endif
}

// A vendor's own product includes the fragment with one ComponentGroupRef: it writes what regsvr32
// writes for the module it installed, plus the approval; repair puts back a deleted key; uninstall
// leaves nothing of ours, nor the player.
TEST_F(RegistryTest, VendorProductWithTheFragmentMatchesSelfRegistration)
{
#ifdef _WIN64
    const REGSAM view = KEY_WOW64_64KEY;
#else
    const REGSAM view = 0;
#endif
    const std::string msi = Quoted(BinPath("vendor-player.msi"));
    ApproveNeighbour(view);
    ASSERT_EQ(0, Msiexec("/i " + msi));
    const std::string player = QueryValue(HKEY_CLASSES_ROOT, MainAppKey).Text();
    ASSERT_TRUE(FileExists(player)) << "the vendor's player: " << player;
    const std::string installed = player.substr(0, player.rfind('\\') + 1) + ModuleFile;
    const RegistryExport afterInstall = RegisteredState(view);
    EXPECT_EQ(ExpectedState(installed), afterInstall);
    EXPECT_EQ(Approved, Approval(view));

    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, IconKey, view, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, MenuKey, view, 0);
    EXPECT_EQ(0, Msiexec("/i " + msi + " REINSTALL=ALL REINSTALLMODE=amus"));
    EXPECT_EQ(afterInstall, RegisteredState(view)) << "after repair";

    const std::string regsvr = Quoted(SystemProgram("regsvr32.exe")) + " /s ";
    EXPECT_EQ(0, RunProgram(regsvr + "/u " + Quoted(installed)));
    EXPECT_TRUE(RegisteredState(view).empty());
    EXPECT_EQ(0, RunProgram(regsvr + Quoted(installed)));
    EXPECT_EQ(afterInstall, RegisteredState(view))
        << "the product and regsvr32 write different keys";

    EXPECT_EQ(0, Msiexec("/x " + msi));
    EXPECT_TRUE(RegisteredState(view).empty()) << "keys left";
    EXPECT_EQ("(none)", Approval(view)) << "approval left";
    EXPECT_NE("(none)", Approval(view, NeighbourClass)) << "another extension's approval went";
    EXPECT_FALSE(FileExists(installed));
    EXPECT_FALSE(FileExists(player));
}
