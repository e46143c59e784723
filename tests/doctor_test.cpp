// shellfind doctor on a broken machine: each row breaks one thing of a healthy install under a
// Windows XP profile, runs the doctor, and looks for its exit code and the line that names the
// fault, or, for what still lets the entry show and work, the note that tells of it.
#include <string>

#include "support/doctor_support.h"

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
            0, "approval is enforced (HKCU) and the class is approved (HKLM)"},
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
            0, "registration writes \"For Internet &Audio/Video...\" on this system now"},
        {"stale menu text after the translation changed",
            [](const Install&) {
                SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, BinPath("kvshellsearch-de.dll"));
            },
            0, "; registration writes"},
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
            0, "stored without its terminating zero"},
        {"menu text very long",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, std::string(70000, 'A'));
            },
            7, "longer than the 1023 characters"},
        {"icon cannot be extracted",
            [](const Install& i) {
                SetDefaultText(HKEY_LOCAL_MACHINE, IconKey, i.directory + "\\player.exe");
            },
            0, "no icon can be extracted"},
        {"player's path missing",
            [](const Install&) {
                DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
            },
            9, "the player's path"},
        {"player gone",
            [](const Install& i) {
                DeleteFileA((i.directory + "\\player.exe").c_str());
            },
            9, "player.exe\" /search, and there is no program"},
        {"translation does not load",
            [](const Install& i) {
                SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, i.directory + "\\missing.dll");
            },
            0, "does not load (error"},
        {"translation lacks a string",
            [](const Install&) {
                SetDefaultText(
                    HKEY_CLASSES_ROOT, SatelliteKey, BinPath("test_satellite_partial.dll"));
            },
            0, "lacks string 1: registering the module writes the module's own menu text"},
        {"approval enforced, class not approved",
            [](const Install&) {
                SetNumber(HKEY_LOCAL_MACHINE, PoliciesKey, PolicyValue, 1);
            },
            10, "is not approved"},
        {"approval policy of the wrong type",
            [](const Install&) {
                SetNamedValue(HKEY_CURRENT_USER, PoliciesKey, PolicyValue, "1", 2, REG_SZ);
            },
            10, "is not approved by the machine"},
        {"class blocked",
            [](const Install&) {
                SetNamedValue(HKEY_CURRENT_USER, BlockedKey, ClassIdText, "", 1, REG_SZ);
            },
            10, "is blocked (HKCU"},
        {"blocked list cannot be opened",
            [](const Install&) {
                SetKeyAccess(HKEY_CURRENT_USER, BlockedKey, false);
            },
            0, "cannot be read by this user"},
    };
    const std::string doctor = Shellfind("doctor");
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
            EXPECT_EQ("", FirstLine(output)) << output;
            EXPECT_NE(std::string::npos, output.find(c.line)) << output;
        } else {
            EXPECT_NE(std::string::npos, FirstLine(output).find(c.line)) << output;
        }
    }
}
