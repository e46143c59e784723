// shellfind register, unregister and repair where they must refuse: files that are no module of
// ours, a registration that fails half-way, keys this user may not write, and a Windows 95 that
// has no regsvr32.exe.
#include <string>

#include "support/doctor_support.h"

namespace {

constexpr int RegistrationFailed = 13;

// A program of the system directory, moved aside for the life of the object.
class MovedAside {
public:
    explicit MovedAside(const std::string& path)
        : path_(path)
    {
        moved_ = MoveFileA(path_.c_str(), (path_ + ".aside").c_str()) != FALSE;
    }
    ~MovedAside()
    {
        if (moved_)
            MoveFileA((path_ + ".aside").c_str(), path_.c_str());
    }
    bool Moved() const { return moved_; }

private:
    std::string path_;
    bool moved_ = false;
};

} // namespace

TEST_F(DoctorTest, RegisterRefusesWhatItCannotRegisterAndWritesNothing)
{
    const struct {
        const char* input;
        const char* command; // "register" or "unregister"
        std::string (*prepare)(const Install&); // the MODULE argument, "" for none
        const char* message;
    } cases[] = {
        {"no such file", "register",
            [](const Install& i) {
                return i.directory + "\\nothing.dll";
            },
            "does not exist: nothing was written"},
        {"a directory", "register",
            [](const Install& i) {
                return i.directory;
            },
            "is a directory, not a module"},
        {"a text file", "register",
            [](const Install& i) {
                WriteTextFile(i.directory + "\\text.dll", "not a module");
                return i.directory + "\\text.dll";
            },
            "is not a Windows module"},
        {"a program", "register",
            [](const Install& i) {
                return i.player;
            },
            "is a program, not a module"},
        {"a module of the other bitness", "unregister",
            [](const Install& i) {
                WriteHeaderOnlyImage(i.directory + "\\other.dll", OtherMachine);
                return i.directory + "\\other.dll";
            },
            "-bit module, which this"},
        {"a module that does not load", "register",
            [](const Install& i) {
                WriteHeaderOnlyImage(i.directory + "\\broken.dll", OwnMachine);
                return i.directory + "\\broken.dll";
            },
            "does not load (error"},
        {"a module without the export", "unregister",
            [](const Install&) {
                return BinPath("test_satellite_partial.dll");
            },
            "exports no DllUnregisterServer"},
        {"a registration that fails", "register",
            [](const Install& i) {
                // It fits the module's read, but the module's path beside it does not fit.
                SetDefaultText(
                    HKEY_CLASSES_ROOT, MainAppKey, "C:\\" + std::string(1010, 'd') + "\\p.exe");
                return i.module;
            },
            "returned 0x800700CE"},
        {"no player to find the module by", "register",
            [](const Install&) {
                DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
                return std::string();
            },
            "name it: shellfind register MODULE"},
        // The module writes the class keys, then finds the menu text's key refusing writes:
        // what it wrote goes back.
        {"a registration that fails half-way", "register",
            [](const Install& i) {
                DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
                SetKeyAccessMask(HKEY_LOCAL_MACHINE, MenuKey, KEY_READ | WRITE_DAC);
                return i.module;
            },
            "the registration is back as it was before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        ResetRegistry();
        const Install install = MakeHealthyInstall();
        const std::string module = c.prepare(install);
        const RegistryExport before = OurKeysSnapshot();
        std::string output;
        EXPECT_EQ(RegistrationFailed,
            RunProgram(
                Shellfind(std::string(c.command) + (module.empty() ? "" : " \"" + module + "\"")),
                output))
            << output;
        EXPECT_NE(std::string::npos, output.find(c.message)) << output;
        EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All)) << output;
        SetKeyAccessMask(HKEY_LOCAL_MACHINE, MenuKey, KEY_ALL_ACCESS);
    }
}

// A user who may not write the class's key: the doctor names the administrator, repair says it
// changes nothing, and nothing changes.
TEST_F(DoctorTest, RepairOfAKeyThatRefusesWritesNamesTheAdministratorAndLosesNothing)
{
    SetWineVersion("shellfind.exe", "winxp");
    const Install install = MakeHealthyInstall();
    SetDefaultText(HKEY_CLASSES_ROOT, ServerKey, ModuleFile);
    SetKeyAccessMask(HKEY_CLASSES_ROOT, ServerKey, KEY_READ | WRITE_DAC);
    const RegistryExport before = OurKeysSnapshot();
    std::string output;
    EXPECT_EQ(4, RunProgram(Shellfind("repair"), output)) << output;
    EXPECT_NE(std::string::npos, FirstLine(output).find("only an administrator")) << output;
    EXPECT_NE(std::string::npos, output.find("repair: nothing was changed")) << output;
    EXPECT_EQ(std::string::npos, output.find("backup: ")) << output;
    EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All)) << output;
    SetKeyAccessMask(HKEY_CLASSES_ROOT, ServerKey, KEY_ALL_ACCESS);
}

// Windows 95 as first released may have no regsvr32.exe: shellfind registers the module as
// regsvr32 does, key for key, takes it away again, and no fix names what is not there.
TEST_F(DoctorTest, OnWindows95WithoutRegsvr32ShellfindRegistersAndNoFixNamesRegsvr32)
{
    SetWineVersion("shellfind.exe", "win95");
    SetWineVersion("regsvr32.exe", "win95");
    const Install install = MakeHealthyInstall();
    const std::string regsvr32 = SystemProgram("regsvr32.exe");
    ASSERT_EQ(0, RunProgram("\"" + regsvr32 + "\" /s \"" + install.module + "\""));
    const RegistryExport byRegsvr32 = RegisteredState();
    ASSERT_EQ(0, RunProgram("\"" + regsvr32 + "\" /s /u \"" + install.module + "\""));
    ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
    SetWineVersion("regsvr32.exe", nullptr);

    const MovedAside gone(regsvr32);
    ASSERT_TRUE(gone.Moved());
    std::string output;
    EXPECT_EQ(0, RunProgram(Shellfind("register"), output)) << output;
    EXPECT_EQ(byRegsvr32, RegisteredState());
    const struct {
        const char* state;
        void (*breakIt)(const Install&);
    } broken[] = {
        {"menu text empty",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
            }},
        {"module file gone",
            [](const Install& i) {
                DeleteFileA(i.module.c_str());
            }},
        {"entry gone",
            [](const Install&) {
                DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
            }},
    };
    for (const auto& b : broken) {
        b.breakIt(install);
        EXPECT_NE(0, RunProgram(Shellfind("doctor"), output)) << b.state;
        EXPECT_EQ(std::string::npos, output.find("regsvr32")) << b.state << "\n" << output;
    }
    CopyFileA(BinPath(ModuleFile).c_str(), install.module.c_str(), FALSE);
    EXPECT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
    EXPECT_EQ(0, RunProgram(Shellfind("unregister"), output)) << output;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, StaticKey));
}

// The 32-bit shellfind on 64-bit Windows registers the 32-bit DLL in its own view and leaves
// the 64-bit shell's: where that one is broken, its repair changes nothing and names the x64
// build, whose repair mends it.
TEST_F(DoctorTest, The32BitShellfindOnA64BitSystemActsOnItsOwnView)
{
    if (!Wow64())
        GTEST_SKIP() << "needs 32-bit programs beside this one: runs in the WoW64 part";
    const Install install = MakeHealthyInstall();
    const std::string dll32 = install.directory + "\\kvshellsearch.dll";
    ASSERT_TRUE(CopyFileA(BinPath("shipped\\kvshellsearch.dll").c_str(), dll32.c_str(), FALSE));
    const std::string shellfind32 = "\"" + BinPath("shipped\\shellfind.exe") + "\" ";
    const RegistryExport view64 = RegisteredState(KEY_WOW64_64KEY);
    std::string output;
    EXPECT_EQ(0, RunProgram(shellfind32 + "register", output)) << output;
    EXPECT_NE(std::string::npos, output.find(dll32)) << output;
    const RegistryExport view32 = RegisteredState(KEY_WOW64_32KEY);
    EXPECT_EQ("1:" + dll32 + std::string(1, '\0'), view32.at(std::string(ServerKey) + "[]"));
    EXPECT_EQ(view64, RegisteredState(KEY_WOW64_64KEY)) << "it wrote the 64-bit view";

    SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
    const RegistryExport broken = OurKeysSnapshot();
    EXPECT_EQ(7, RunProgram(shellfind32 + "repair", output)) << output;
    EXPECT_NE(std::string::npos, output.find("shellfind-" KV_VERSION "-x64.exe")) << output;
    EXPECT_EQ("", ChangedKeys(broken, OurKeysSnapshot(), Changes::All)) << output;
    EXPECT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
    EXPECT_EQ(view32, RegisteredState(KEY_WOW64_32KEY))
        << "the 64-bit repair wrote the 32-bit view";
    EXPECT_EQ(0, RunProgram(shellfind32 + "unregister", output)) << output;
    EXPECT_TRUE(RegisteredState(KEY_WOW64_32KEY).empty()) << output;
    EXPECT_FALSE(RegisteredState(KEY_WOW64_64KEY).empty()) << "it unregistered the 64-bit view";
}
