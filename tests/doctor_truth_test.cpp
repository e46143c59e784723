// Is the doctor right? Machine states are made from variants of each part of an install (the
// player's path, the translation, the module path, the menu text, the shell's policy); for each
// state the doctor's verdict is held against what the stand-in shell does with the entry:
// shellfind invoke starts the stand-in player with " /search", or it does not. Then each fix the
// doctor prints is carried out as written, and the doctor must be satisfied.
#include <stdio.h>

#include <string>
#include <vector>

#include "support/doctor_support.h"

namespace {

// One variant of one part of the install. cause: in the doctor's first FAULT line when this
// variant is what breaks the entry; null when the entry still shows and works.
struct Variant {
    const char* name;
    const char* cause;
    void (*apply)(const Install&);
};

void SetMainApp(const std::string& value, DWORD type = REG_SZ)
{
    SetDefaultValue(
        HKEY_CLASSES_ROOT, MainAppKey, value.c_str(), static_cast<DWORD>(value.size() + 1), type);
}

// A player the shell finds by its bare name: in the Windows directory, the shell's own.
constexpr char PlayerInWindowsDirectory[] = "kvshellsearch-test-player.exe";

std::string WindowsDirectoryFile(const char* name)
{
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\" + name;
}

// A full path of exactly length characters that names nothing: "C:\" and then a's.
std::string PathOfLength(size_t length)
{
    return "C:\\" + std::string(length - 3, 'a');
}

const Variant MainAppVariants[] = {
    {"good", nullptr, [](const Install&) {}},
    {"quoted", nullptr,
        [](const Install& i) {
            SetMainApp("\"" + i.player + "\"");
        }},
    {"quoted with arguments", nullptr,
        [](const Install& i) {
            SetMainApp("\"" + i.player + "\" /fresh");
        }},
    {"bare name, in the Windows directory", nullptr,
        [](const Install&) {
            SetMainApp(PlayerInWindowsDirectory);
        }},
    {"REG_EXPAND_SZ without %", nullptr,
        [](const Install& i) {
            SetMainApp(i.player, REG_EXPAND_SZ);
        }},
    {"REG_BINARY", nullptr,
        [](const Install& i) {
            SetMainApp(i.player, REG_BINARY);
        }},
    {"REG_MULTI_SZ", nullptr,
        [](const Install& i) {
            const std::string list = i.player + std::string(1, '\0');
            SetDefaultValue(HKEY_CLASSES_ROOT, MainAppKey, list.c_str(),
                static_cast<DWORD>(list.size() + 1), REG_MULTI_SZ);
        }},
    {"without its zero", nullptr,
        [](const Install& i) {
            // A byte other than zero behind the counted ones: else the system adds the zero.
            const std::string value = i.player + "!";
            SetDefaultValue(HKEY_CLASSES_ROOT, MainAppKey, value.c_str(),
                static_cast<DWORD>(i.player.size()), REG_SZ);
        }},
    {"open quote", "never closes it",
        [](const Install& i) {
            SetMainApp("\"" + i.player);
        }},
    {"bare name found nowhere", "there is no program",
        [](const Install&) {
            SetMainApp("player.exe");
        }},
    {"player gone", "there is no program",
        [](const Install& i) {
            DeleteFileA(i.player.c_str());
        }},
    {"REG_EXPAND_SZ with %", "does not expand it",
        [](const Install& i) {
            SetEnvironmentVariableA("KV_PLAYER_DIRECTORY", i.directory.c_str());
            SetMainApp("%KV_PLAYER_DIRECTORY%\\player.exe", REG_EXPAND_SZ);
        }},
    {"REG_DWORD", "there is no program",
        [](const Install&) {
            SetNumber(HKEY_CLASSES_ROOT, MainAppKey, nullptr, 0x41);
        }},
    {"no value", "is missing",
        [](const Install&) {
            DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
        }},
    {"not a program", "is not a Windows program",
        [](const Install& i) {
            WriteTextFile(i.player, "not a program");
        }},
    // The longest paths the module still starts; no file can have them, so nothing starts.
    {"1013 characters", "there is no program",
        [](const Install&) {
            SetMainApp(PathOfLength(1013));
        }},
    {"1014 characters", "too long: with its quotes",
        [](const Install&) {
            SetMainApp(PathOfLength(1014));
        }},
    {"quoted, 1014 characters", "there is no program",
        [](const Install&) {
            SetMainApp("\"" + PathOfLength(1013));
        }},
    {"quoted, 1015 characters", "too long: with its quotes",
        [](const Install&) {
            SetMainApp("\"" + PathOfLength(1014));
        }},
    {"longer than the buffer", "too long for the module's buffer",
        [](const Install&) {
            SetMainApp(PathOfLength(1100));
        }},
};

const Variant SatelliteVariants[] = {
    {"none", nullptr, [](const Install&) {}},
    {"German", nullptr,
        [](const Install&) {
            SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, BinPath("kvshellsearch-de.dll"));
        }},
    {"missing", nullptr,
        [](const Install& i) {
            SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, i.directory + "\\missing.dll");
        }},
    {"REG_EXPAND_SZ", nullptr,
        [](const Install&) {
            const std::string path = "%SystemRoot%\\kvshellsearch-de.dll";
            SetDefaultValue(HKEY_CLASSES_ROOT, SatelliteKey, path.c_str(),
                static_cast<DWORD>(path.size() + 1), REG_EXPAND_SZ);
        }},
    {"lacking string 1", nullptr,
        [](const Install&) {
            SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, BinPath("test_satellite_partial.dll"));
        }},
    {"too long", nullptr,
        [](const Install&) {
            SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, PathOfLength(300));
        }},
};

const Variant ModulePathVariants[] = {
    {"absolute", nullptr, [](const Install&) {}},
    {"bare file name", "is no full path",
        [](const Install&) {
            SetDefaultText(HKEY_CLASSES_ROOT, ServerKey, ModuleFile);
        }},
    {"missing", "does not exist",
        [](const Install& i) {
            DeleteFileA(i.module.c_str());
        }},
    {"other bitness", "but only a",
        [](const Install& i) {
            WriteHeaderOnlyImage(i.module, OtherMachine);
        }},
    {"not a PE file", "is not a Windows module",
        [](const Install& i) {
            WriteTextFile(i.module, "not a module");
        }},
};

const Variant MenuTextVariants[] = {
    {"right", nullptr, [](const Install&) {}},
    {"stale", nullptr,
        [](const Install&) {
            SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "Internet &Audio/Video...");
        }},
    {"other language", nullptr,
        [](const Install&) {
            SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "Nach &Audio/Video im Internet...");
        }},
    {"empty", "is empty",
        [](const Install&) {
            SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
        }},
};

void Enforce(HKEY root)
{
    SetNumber(root, PoliciesKey, PolicyValue, 1);
}

void Approve(HKEY root)
{
    SetNamedValue(root, ApprovedKey, ClassIdText, "Orbelquest", 11, REG_SZ);
}

const Variant PolicyVariants[] = {
    {"off", nullptr, [](const Install&) {}},
    {"enforced, approved", nullptr,
        [](const Install&) {
            Enforce(HKEY_LOCAL_MACHINE);
            Approve(HKEY_LOCAL_MACHINE);
        }},
    {"enforced, not approved", "is not approved by the machine",
        [](const Install&) {
            Enforce(HKEY_CURRENT_USER);
        }},
    {"enforced, approved by the user only", "only this user's Approved key",
        [](const Install&) {
            Enforce(HKEY_CURRENT_USER);
            Approve(HKEY_CURRENT_USER);
        }},
    {"policy as REG_SZ, approved", nullptr,
        [](const Install&) {
            SetNamedValue(HKEY_CURRENT_USER, PoliciesKey, PolicyValue, "1", 2, REG_SZ);
            Approve(HKEY_LOCAL_MACHINE);
        }},
    {"policy as REG_SZ, not approved", "is not approved by the machine",
        [](const Install&) {
            SetNamedValue(HKEY_CURRENT_USER, PoliciesKey, PolicyValue, "1", 2, REG_SZ);
        }},
    {"approved list unreadable, not enforced", nullptr,
        [](const Install&) {
            SetKeyAccess(HKEY_LOCAL_MACHINE, ApprovedKey, false);
        }},
    {"approved list unreadable, enforced", "Approved key cannot be read",
        [](const Install&) {
            Enforce(HKEY_LOCAL_MACHINE);
            SetKeyAccess(HKEY_LOCAL_MACHINE, ApprovedKey, false);
        }},
    {"blocked list unreadable", nullptr,
        [](const Install&) {
            SetKeyAccess(HKEY_CURRENT_USER, BlockedKey, false);
        }},
    {"blocked by the machine", "is blocked (HKLM",
        [](const Install&) {
            SetNamedValue(HKEY_LOCAL_MACHINE, BlockedKey, ClassIdText, "", 1, REG_SZ);
        }},
    {"blocked by the user", "is blocked (HKCU",
        [](const Install&) {
            SetNamedValue(HKEY_CURRENT_USER, BlockedKey, ClassIdText, "", 1, REG_SZ);
        }},
};

// The parts in the order the doctor checks them: the first broken one names the first fault.
struct Part {
    const char* name;
    const Variant* variants;
    size_t count;
};
const Part Parts[] = {
    {"menu text", MenuTextVariants, ARRAYSIZE(MenuTextVariants)},
    {"policy", PolicyVariants, ARRAYSIZE(PolicyVariants)},
    {"module path", ModulePathVariants, ARRAYSIZE(ModulePathVariants)},
    {"MainApp", MainAppVariants, ARRAYSIZE(MainAppVariants)},
    {"satellite", SatelliteVariants, ARRAYSIZE(SatelliteVariants)},
};
constexpr size_t PartCount = ARRAYSIZE(Parts);
using State = std::vector<size_t>; // a variant of each part

// Every variant once with all else healthy, then combinations drawn by a fixed generator: the
// same states, in the same order, on every run.
std::vector<State> MakeStates(size_t combinations)
{
    std::vector<State> states;
    for (size_t part = 0; part < PartCount; ++part) {
        for (size_t variant = part == 0 ? 0 : 1; variant < Parts[part].count; ++variant) {
            State state(PartCount, 0);
            state[part] = variant;
            states.push_back(state);
        }
    }
    unsigned long seed = 20261210;
    for (size_t i = 0; i < combinations; ++i) {
        State state(PartCount, 0);
        for (size_t part = 0; part < PartCount; ++part) {
            seed = seed * 1103515245UL + 12345UL;
            state[part] = (seed >> 16) % Parts[part].count;
        }
        states.push_back(state);
    }
    return states;
}

std::string NameOf(const State& state)
{
    std::string name;
    for (size_t part = 0; part < PartCount; ++part)
        name += std::string(part == 0 ? "" : ", ") + Parts[part].name + ": "
            + Parts[part].variants[state[part]].name;
    return name;
}

const char* ExpectedCause(const State& state)
{
    for (size_t part = 0; part < PartCount; ++part) {
        if (const char* cause = Parts[part].variants[state[part]].cause)
            return cause;
    }
    return nullptr;
}

// A healthy install broken as the state says, with the player's directory as the current one.
Install BuildState(const State& state)
{
    ResetRegistry();
    ClearPolicies();
    const Install install = MakeHealthyInstall();
    for (size_t part = 0; part < PartCount; ++part)
        Parts[part].variants[state[part]].apply(install);
    SetCurrentDirectoryA(install.directory.c_str());
    return install;
}

// Whether shellfind invoke started the stand-in player with " /search".
bool InvokeStartsThePlayer()
{
    PlayerLog log;
    const int exitCode = RunProgram(Shellfind("invoke Orbelquest"));
    // The player writes its line once it runs; give it time only when it was started.
    const std::vector<std::string> lines = log.WaitForLines(1, exitCode == 0 ? 10000 : 0);
    return lines.size() == 1 && lines[0].size() > 8
        && lines[0].compare(lines[0].size() - 8, 8, " /search") == 0;
}

// The shellfind command a fix names, run as written: it must succeed.
void RunShellfindFrom(const std::string& line)
{
    const std::string command = ShellfindCommandIn(line);
    ASSERT_NE("", command) << line;
    std::string output;
    EXPECT_EQ(0, RunProgram(command, output)) << line << "\n" << output;
}

std::string QuotedPathIn(const std::string& line, size_t from)
{
    const size_t open = line.find('"', from);
    return line.substr(open + 1, line.find('"', open + 1) - open - 1);
}

} // namespace

TEST_F(DoctorTest, VerdictAgreesWithWhatInvokeDoesInEveryState)
{
    const std::vector<State> states = MakeStates(120);
    InstallPlayer(WindowsDirectoryFile(PlayerInWindowsDirectory));
    size_t bothOk = 0, bothFault = 0, falseOk = 0, falseFault = 0, wrongCause = 0;
    for (const State& state : states) {
        const std::string name = NameOf(state);
        // Both run from the player's directory, where a support person may well be: what the
        // shell cannot find must not be found from there either.
        const Install install = BuildState(state);
        std::string output;
        const int verdict = RunProgram(Shellfind("doctor"), output);
        const bool started = InvokeStartsThePlayer();
        SetCurrentDirectoryA(BinPath("").c_str());
        const char* cause = ExpectedCause(state);
        const std::string fault = FirstLine(output);
        if (verdict == 0 && started) {
            ++bothOk;
        } else if (verdict != 0 && !started) {
            ++bothFault;
            if (cause == nullptr || fault.find(cause) == std::string::npos) {
                ++wrongCause;
                ADD_FAILURE() << name << ": the first fault should say \""
                              << (cause != nullptr ? cause : "(nothing)") << "\"\n"
                              << output;
            }
        } else if (verdict == 0) {
            ++falseOk;
            ADD_FAILURE() << name << ": the doctor says ok, the player does not start\n" << output;
        } else {
            ++falseFault;
            ADD_FAILURE() << name << ": the doctor says exit " << verdict << ", the player starts\n"
                          << output;
        }
        EXPECT_EQ(cause == nullptr, started)
            << name << ": the state was built to " << (cause == nullptr ? "work" : "fail");
    }
    DeleteFileA(WindowsDirectoryFile(PlayerInWindowsDirectory).c_str());
    printf("doctor against invoke, %u states: %u agree (%u ok and started, %u FAULT and not "
           "started, %u of those naming another cause); %u false ok, %u false FAULT\n",
        static_cast<unsigned>(states.size()), static_cast<unsigned>(bothOk + bothFault),
        static_cast<unsigned>(bothOk), static_cast<unsigned>(bothFault),
        static_cast<unsigned>(wrongCause), static_cast<unsigned>(falseOk),
        static_cast<unsigned>(falseFault));
}

// Where the doctor says repair mends every fault, repair makes the entry work (the doctor is
// satisfied and invoke starts the player), changes nothing but our keys, and leaves a backup that
// gives the old values back; a second repair changes nothing. In every other state, and in a dry
// run, repair changes nothing at all and answers the doctor's exit code.
TEST_F(DoctorTest, RepairMendsExactlyTheStatesTheDoctorCallsMendable)
{
    const std::vector<State> states = MakeStates(120);
    InstallPlayer(WindowsDirectoryFile(PlayerInWindowsDirectory));
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string regedit = "\"" + std::string(windows) + "\\regedit.exe\" /s ";
    size_t mended = 0;
    for (const State& state : states) {
        SCOPED_TRACE(NameOf(state));
        const Install install = BuildState(state);

        std::string doctor, output;
        const int verdict = RunProgram(Shellfind("doctor"), doctor);
        const bool mendable = doctor.find("repair mends every fault above") != std::string::npos;
        // Repair writes nothing before it has decided to mend: what it reads is enough to
        // watch where it does not.
        const RegistryExport ours = OurKeysSnapshot();
        if (!mendable) {
            EXPECT_EQ(verdict, RunProgram(Shellfind("repair"), output)) << output;
            EXPECT_EQ("", ChangedKeys(ours, OurKeysSnapshot(), Changes::All)) << doctor << output;
            SetCurrentDirectoryA(BinPath("").c_str());
            continue;
        }
        ++mended;
        EXPECT_EQ(verdict, RunProgram(Shellfind("repair --dry-run"), output)) << output;
        EXPECT_EQ("", ChangedKeys(ours, OurKeysSnapshot(), Changes::All)) << output;
        const RegistryExport before = SoftwareSnapshot();
        EXPECT_EQ(0, RunProgram(Shellfind("repair"), output)) << doctor << output;
        EXPECT_EQ("", ChangedKeys(before, SoftwareSnapshot(), Changes::OutsideOurKeys)) << output;
        std::string again;
        EXPECT_EQ(0, RunProgram(Shellfind("doctor"), again)) << again;
        EXPECT_TRUE(InvokeStartsThePlayer()) << output;
        const RegistryExport repaired = OurKeysSnapshot();
        EXPECT_EQ(0, RunProgram(Shellfind("repair"), again)) << again;
        EXPECT_EQ("", ChangedKeys(repaired, OurKeysSnapshot(), Changes::All)) << again;

        const std::string backup = BackupPathIn(output);
        ASSERT_NE("", backup) << output;
        EXPECT_EQ(0, RunProgram(regedit + "\"" + backup + "\""));
        EXPECT_EQ("", ChangedKeys(ours, OurKeysSnapshot(), Changes::OursLost)) << backup;
        DeleteFileA(backup.c_str());
        SetCurrentDirectoryA(BinPath("").c_str());
    }
    DeleteFileA(WindowsDirectoryFile(PlayerInWindowsDirectory).c_str());
    printf("repair, %u states: %u mended, %u left as they were\n",
        static_cast<unsigned>(states.size()), static_cast<unsigned>(mended),
        static_cast<unsigned>(states.size() - mended));
}

// On 64-bit Windows the 32-bit doctor (sent first to a customer) checks the 64-bit shell's view
// as far as a 32-bit program can: its verdict is the 64-bit doctor's, but where that needs the
// 64-bit module loaded (a verdict of 0, or of the module not loading), where it says it could
// not check (12) and names the 64-bit build.
TEST_F(DoctorTest, TheTwoDoctorsAgreeOnA64BitSystem)
{
    if (!Wow64())
        GTEST_SKIP() << "needs 32-bit programs beside this one: runs in the WoW64 part";
    const std::string shellfind32 = "\"" + BinPath("shipped\\shellfind.exe") + "\" doctor";
    for (const State& state : MakeStates(0)) {
        SCOPED_TRACE(NameOf(state));
        BuildState(state);
        std::string output64, output32;
        const int verdict64 = RunProgram(Shellfind("doctor"), output64);
        const int verdict32 = RunProgram(shellfind32, output32);
        SetCurrentDirectoryA(BinPath("").c_str());
        if (verdict64 == 0 || verdict64 == 5) {
            EXPECT_EQ(12, verdict32) << output64 << output32;
            EXPECT_NE(std::string::npos, output32.find("run the 64-bit shellfind doctor"))
                << output32;
        } else {
            EXPECT_EQ(verdict64, verdict32) << output64 << output32;
        }
    }
}

TEST_F(DoctorTest, EachFixItPrintsMendsWhatItNames)
{
    const struct {
        const char* state;
        void (*breakIt)(const Install&);
        int exitCode;
        void (*fix)(const Install&, const std::string& faultLine);
    } cases[] = {
        {"entry gone",
            [](const Install&) {
                DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
            },
            3,
            [](const Install&, const std::string& line) {
                RunShellfindFrom(line);
            }},
        {"menu text empty",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
            },
            7,
            [](const Install&, const std::string& line) {
                RunShellfindFrom(line);
            }},
        {"menu text empty, translation lacking it",
            [](const Install&) {
                SetDefaultText(
                    HKEY_CLASSES_ROOT, SatelliteKey, BinPath("test_satellite_partial.dll"));
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
            },
            7,
            [](const Install&, const std::string& line) {
                // The module's own text stands in for the one the translation lacks.
                ASSERT_EQ(std::string::npos, line.find("SatelliteShellSearch"));
                RunShellfindFrom(line);
            }},
        {"module registered without the player's directory",
            [](const Install&) {
                SetDefaultText(HKEY_CLASSES_ROOT, ServerKey, ModuleFile);
            },
            4,
            [](const Install&, const std::string& line) {
                RunShellfindFrom(line);
            }},
        {"module file gone",
            [](const Install& i) {
                DeleteFileA(i.module.c_str());
            },
            4,
            [](const Install&, const std::string& line) {
                // "... or copy kvshellsearch.dll there; then run "...shellfind.exe" repair".
                const std::string target = QuotedPathIn(line, line.find(" -- "));
                ASSERT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), target.c_str(), FALSE));
                RunShellfindFrom(line);
            }},
        {"module of the other bitness",
            [](const Install& i) {
                WriteHeaderOnlyImage(i.module, OtherMachine);
            },
            4,
            [](const Install&, const std::string& line) {
                const std::string target = QuotedPathIn(line, line.find(" -- replace"));
                ASSERT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), target.c_str(), FALSE));
            }},
        {"player's path unexpanded",
            [](const Install& i) {
                SetEnvironmentVariableA("KV_PLAYER_DIRECTORY", i.directory.c_str());
                SetMainApp("%KV_PLAYER_DIRECTORY%\\player.exe", REG_EXPAND_SZ);
            },
            9,
            [](const Install& i, const std::string& line) {
                ASSERT_NE(std::string::npos, line.find("MainApp) to \"" + i.player + "\""));
                RunShellfindFrom(line);
            }},
        {"blocked by the user",
            [](const Install&) {
                SetNamedValue(HKEY_CURRENT_USER, BlockedKey, ClassIdText, "", 1, REG_SZ);
            },
            10,
            [](const Install&, const std::string& line) {
                ASSERT_NE(std::string::npos, line.find("only an administrator")); // who can
                DeleteTree(HKEY_CURRENT_USER, BlockedKey);
            }},
        {"not approved",
            [](const Install&) {
                Enforce(HKEY_LOCAL_MACHINE);
            },
            10,
            [](const Install&, const std::string& line) {
                ASSERT_NE(std::string::npos, line.find("an administrator must add a value"));
                Approve(HKEY_LOCAL_MACHINE);
            }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        ResetRegistry();
        ClearPolicies();
        const Install install = MakeHealthyInstall();
        c.breakIt(install);
        std::string output;
        ASSERT_EQ(c.exitCode, RunProgram(Shellfind("doctor"), output)) << output;
        c.fix(install, FirstLine(output));
        EXPECT_EQ(0, RunProgram(Shellfind("doctor"), output)) << output;
    }
}
