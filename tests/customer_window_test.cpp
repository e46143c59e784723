// The customer's shellfind, double-clicked: its windows are found, read and answered as a
// customer would, each state from its own healthy install. Run by cmake/with-display.sh, in a
// virtual display and a prefix of its own.
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/doctor_support.h"

namespace {

struct Box {
    HWND window = nullptr;
    std::string text;
};

struct BoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char windowClass[16] = {};
    GetClassNameA(window, windowClass, sizeof windowClass);
    if (processId != search->processId || !IsWindowVisible(window)
        || lstrcmpA(windowClass, "#32770") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK AddStaticText(HWND child, LPARAM data)
{
    char windowClass[16] = {};
    GetClassNameA(child, windowClass, sizeof windowClass);
    char text[4096] = {};
    if (lstrcmpiA(windowClass, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
        *reinterpret_cast<std::string*>(data) += text;
    return TRUE;
}

// The process's next message box and its text, once it shows; none when the process ends
// first or the time runs out.
Box NextBox(const PROCESS_INFORMATION& process, DWORD timeoutMs = 60000)
{
    Box box;
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        BoxSearch search = {process.dwProcessId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            box.window = search.found;
            EnumChildWindows(box.window, AddStaticText, reinterpret_cast<LPARAM>(&box.text));
            return box;
        }
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            return box;
    }
    return box;
}

void Press(const Box& box, int button)
{
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    for (int i = 0; i < 100 && IsWindow(box.window); ++i)
        Sleep(50);
}

PROCESS_INFORMATION Start(const std::string& program, const std::string& arguments)
{
    std::string line = "\"" + program + "\"" + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
        nullptr, &startup, &process))
        << program << " (error " << GetLastError() << ")";
    return process;
}

DWORD Finish(const PROCESS_INFORMATION& process)
{
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

std::string FileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    std::string lines;
    for (char c : text.str())
        if (c != '\r')
            lines += c;
    return lines;
}

// The text after marker in a box, to the end of its line.
std::string After(const std::string& text, const char* marker)
{
    const size_t at = text.find(marker);
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + strlen(marker);
    return text.substr(start, text.find('\n', start) - start);
}

const std::string Fix = BinPath("shellfind-fix.exe");

} // namespace

// Each state as a customer meets it: what the windows say, what pressing their buttons does,
// and the report it saves. Yes mends as shellfind repair does, with the same backup; No changes
// nothing.
TEST_F(DoctorTest, TheCustomersWindowSaysWhatIsWrongAndMendsOnlyOnYes)
{
    SetWineVersion("shellfind-fix.exe", WindowsXp);
    struct Answer {
        const char* says;
        int button;
    };
    const struct {
        const char* state;
        void (*breakIt)(const Install&);
        std::vector<Answer> answers;
        DWORD exitCode;
        bool changes;
    } cases[] = {
        {"healthy", [](const Install&) {},
            {{"is set up and works", IDYES}, {"The report is saved as", IDOK}}, 0, false},
        {"mendable, and the customer says No",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
            },
            {{"Mend it now?", IDNO}, {"Nothing was changed", IDNO}}, 7, false},
        {"mendable, and the customer says Yes",
            [](const Install&) {
                SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
            },
            {{"has lost its name", IDYES}, {"The search entry is mended", IDNO}}, 0, true},
        {"only an administrator can mend it",
            [](const Install&) {
                SetDefaultText(HKEY_CLASSES_ROOT, ServerKey, ModuleFile);
                SetKeyAccessMask(HKEY_CLASSES_ROOT, ServerKey, KEY_READ | WRITE_DAC);
            },
            {{"Run as...", IDNO}}, 4, false},
        {"nothing here can mend it",
            [](const Install& i) {
                DeleteFileA(i.player.c_str());
            },
            {{"Install Kestrovane again", IDYES}, {"The report is saved as", IDOK}}, 9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        ResetRegistry();
        const Install install = MakeHealthyInstall();
        c.breakIt(install);
        std::string doctor;
        RunProgram(Shellfind("doctor"), doctor);
        const RegistryExport before = OurKeysSnapshot();

        const PROCESS_INFORMATION process = Start(Fix, "");
        std::string reportPath, backup;
        for (const Answer& answer : c.answers) {
            const Box box = NextBox(process);
            ASSERT_NE(nullptr, box.window) << "no window saying: " << answer.says;
            EXPECT_NE(std::string::npos, box.text.find(answer.says)) << box.text;
            reportPath = reportPath.empty() ? After(box.text, "saved as:\n") : reportPath;
            backup = backup.empty() ? After(box.text, "saved in:\n") : backup;
            Press(box, answer.button);
        }
        EXPECT_EQ(c.exitCode, Finish(process));
        SetKeyAccessMask(HKEY_CLASSES_ROOT, ServerKey, KEY_ALL_ACCESS);
        if (!reportPath.empty()) {
            // The doctor's full text, but for the program its fixes name.
            std::string report = FileText(reportPath);
            for (size_t at; (at = report.find("shellfind-fix.exe")) != std::string::npos;)
                report.replace(at, 17, "shellfind.exe");
            EXPECT_EQ(doctor, report);
            DeleteFileA(reportPath.c_str());
        }
        if (!c.changes) {
            EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All));
            continue;
        }
        // What repair in a console does from the same state, with the same backup.
        ASSERT_NE("", backup);
        const RegistryExport mended = OurKeysSnapshot();
        c.breakIt(install);
        std::string output;
        EXPECT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
        EXPECT_EQ(mended, OurKeysSnapshot());
        const std::string consoleBackup = BackupPathIn(output);
        EXPECT_EQ(FileText(backup), FileText(consoleBackup));
        DeleteFileA(backup.c_str());
        DeleteFileA(consoleBackup.c_str());
    }
}

// From a console, or with arguments, shellfind shows no window: the console build has none, and
// the windowed one with arguments is shellfind.
TEST_F(DoctorTest, WithArgumentsOrFromAConsoleThereIsNoWindow)
{
    MakeHealthyInstall();
    SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
    const RegistryExport before = OurKeysSnapshot();
    const struct {
        std::string program;
        const char* arguments;
        DWORD exitCode;
    } cases[] = {
        {BinPath("shellfind.exe"), "", 2},
        {BinPath("shellfind.exe"), " doctor", 7},
        {Fix, " doctor", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program + c.arguments);
        const PROCESS_INFORMATION process = Start(c.program, c.arguments);
        const Box box = NextBox(process);
        EXPECT_EQ(nullptr, box.window) << box.text;
        if (box.window != nullptr)
            Press(box, IDNO);
        EXPECT_EQ(c.exitCode, Finish(process));
    }
    EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All));
}
