#include "support/test_support.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

std::string BinPath(const std::string& name)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH - 1);
    std::string directory(self);
    return directory.substr(0, directory.find_last_of('\\') + 1) + name;
}

// cmake/wine-run.sh's proof that this program really ran: a Wine that cannot run it may still
// exit 0. KV_RAN_MARKER is a path of the host's, which Wine shows on drive Z:. A program that
// cannot write it stops before any test, so that no marker always means nothing ran.
static const bool RanMarkerWritten = [] {
    const char* marker = getenv("KV_RAN_MARKER");
    if (marker == nullptr)
        return false;
    std::string path = std::string("Z:") + marker;
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(
            stderr, "cannot write KV_RAN_MARKER %s (error %lu)\n", path.c_str(), GetLastError());
        ExitProcess(2);
    }
    CloseHandle(file);
    return true;
}();

std::string MakeScratchDirectory()
{
    static int counter = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        std::string path = std::string(temp) + "kvtest-" + std::to_string(GetCurrentProcessId())
            + "-" + std::to_string(++counter);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

void DeleteTree(HKEY root, const char* path)
{
    RegDeleteTreeA(root, path);
    RegDeleteKeyA(root, path);
}

void ResetRegistry()
{
    DeleteTree(HKEY_CLASSES_ROOT, PreferencesRoot);
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
    DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
}

void SetNamedValue(
    HKEY root, const char* path, const char* name, const void* data, DWORD size, DWORD type)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
        RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        << path;
    ASSERT_EQ(
        ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size))
        << path;
    RegCloseKey(key);
}

void SetDefaultValue(HKEY root, const char* path, const void* data, DWORD size, DWORD type)
{
    SetNamedValue(root, path, nullptr, data, size, type);
}

void SetDefaultText(HKEY root, const char* path, const std::string& text)
{
    SetDefaultValue(root, path, text.c_str(), static_cast<DWORD>(text.size() + 1), REG_SZ);
}

bool KeyExists(HKEY root, const char* path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string RegistryValue::Text() const
{
    std::string text(data.begin(), data.end());
    return text.substr(0, text.find('\0'));
}

RegistryValue QueryValue(HKEY root, const char* path, const char* name)
{
    RegistryValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.found = RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &size)
            == ERROR_SUCCESS;
        value.data.resize(size);
    }
    RegCloseKey(key);
    return value;
}

// One buffer for the whole walk: a large tree has thousands of keys.
static void ExportKeysInto(
    HKEY root, const std::string& path, RegistryExport& into, REGSAM view, std::vector<BYTE>& data)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    into[path] = "(key)";
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &dataSize)
            != ERROR_SUCCESS)
            break;
        into[path + "[" + name + "]"] = std::to_string(type) + ":"
            + std::string(reinterpret_cast<char*>(data.data()), dataSize);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        ExportKeysInto(root, path + "\\" + name, into, view, data);
    }
    RegCloseKey(key);
}

void ExportKeys(HKEY root, const std::string& path, RegistryExport& into, REGSAM view)
{
    std::vector<BYTE> data(65536);
    ExportKeysInto(root, path, into, view, data);
}

RegistryExport RegisteredState(REGSAM view)
{
    RegistryExport state;
    ExportKeys(HKEY_CLASSES_ROOT, ClassKey, state, view);
    ExportKeys(HKEY_LOCAL_MACHINE, StaticKey, state, view);
    return state;
}

template <typename Function>
static void Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

LoadedModule::LoadedModule(const std::string& path)
{
    handle = LoadLibraryA(path.c_str());
    if (handle == nullptr)
        return;
    Resolve(handle, "DllGetClassObject", GetClassObject);
    Resolve(handle, "DllCanUnloadNow", CanUnloadNow);
    Resolve(handle, "DllRegisterServer", RegisterServer);
    Resolve(handle, "DllUnregisterServer", UnregisterServer);
}

LoadedModule::~LoadedModule()
{
    if (handle != nullptr)
        FreeLibrary(handle);
}

IUnknown* CreateExtension(const LoadedModule& module)
{
    IClassFactory* factory = nullptr;
    if (FAILED(
            module.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IUnknown* extension = nullptr;
    factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&extension));
    factory->Release();
    return extension;
}

HRESULT InvokeSearch(const LoadedModule& module, LPCSTR verb)
{
    IUnknown* extension = CreateExtension(module);
    if (extension == nullptr)
        return E_UNEXPECTED;
    IContextMenu* menu = nullptr;
    extension->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
    extension->Release();
    if (menu == nullptr)
        return E_UNEXPECTED;
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    info.nShow = SW_HIDE; // not looked at: the player always gets SW_SHOWDEFAULT
    HRESULT result = menu->InvokeCommand(&info);
    menu->Release();
    return result;
}

void InstallPlayer(const std::string& path)
{
    // Each directory on the way, split by characters: a second byte may be a backslash.
    for (const char* at = path.c_str() + 3; *at != '\0'; at = CharNextA(at)) {
        if (*at == '\\')
            CreateDirectoryA(path.substr(0, at - path.c_str()).c_str(), nullptr);
    }
    ASSERT_TRUE(CopyFileA(BinPath("stand_in_player.exe").c_str(), path.c_str(), FALSE))
        << "cannot install the stand-in player at " << path;
}

PlayerLog::PlayerLog()
{
    path_ = MakeScratchDirectory() + "\\player.log";
    SetEnvironmentVariableA("KV_PLAYER_LOG", path_.c_str());
}

PlayerLog::~PlayerLog()
{
    SetEnvironmentVariableA("KV_PLAYER_LOG", nullptr);
}

std::vector<std::string> PlayerLog::Lines() const
{
    std::vector<std::string> lines;
    FILE* file = fopen(path_.c_str(), "rb");
    if (file == nullptr)
        return lines;
    std::string content;
    char chunk[4096];
    for (size_t read; (read = fread(chunk, 1, sizeof chunk, file)) > 0;)
        content.append(chunk, read);
    fclose(file);
    for (size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(content.substr(start, end - start));
    return lines;
}

// How long a wait may take here: KV_TEST_TIMEOUT_SCALE times longer in an emulated machine.
static DWORD Scaled(DWORD timeoutMs)
{
    const char* scale = getenv("KV_TEST_TIMEOUT_SCALE");
    const unsigned long factor = scale != nullptr ? strtoul(scale, nullptr, 10) : 1;
    return timeoutMs * (factor > 1 ? factor : 1);
}

std::vector<std::string> PlayerLog::WaitForLines(size_t count, DWORD timeoutMs) const
{
    timeoutMs = Scaled(timeoutMs);
    DWORD started = GetTickCount();
    std::vector<std::string> lines = Lines();
    while (lines.size() < count && GetTickCount() - started < timeoutMs) {
        Sleep(20);
        lines = Lines();
    }
    return lines;
}

std::string SystemProgram(const char* name)
{
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    return std::string(system) + "\\" + name;
}

int Msiexec(const std::string& arguments, const char* interfaceLevel)
{
    return RunProgram(
        "\"" + SystemProgram("msiexec.exe") + "\" " + arguments + " " + interfaceLevel);
}

namespace {

int RunProgramWithOutput(const std::string& commandLine, HANDLE output, DWORD timeoutMs)
{
    timeoutMs = Scaled(timeoutMs);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output; // what a program says of its errors belongs to its output
    }
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // Once in some thousand starts, Wine's CreateProcess has failed here while the same start
    // went through a moment later: a second try, and what the first one said.
    bool started = false;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, output != nullptr, 0,
            nullptr, nullptr, &startup, &process);
        if (!started) {
            fprintf(stderr, "RunProgram: %s did not start (error %lu)\n", commandLine.c_str(),
                GetLastError());
            Sleep(200);
        }
    }
    if (!started)
        return -1;
    DWORD exitCode = static_cast<DWORD>(-1);
    const DWORD waited = WaitForSingleObject(process.hProcess, timeoutMs);
    if (waited == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        fprintf(stderr, "RunProgram: %s did not end in %lu ms (wait %lu, error %lu)\n",
            commandLine.c_str(), timeoutMs, waited, GetLastError());
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

} // namespace

int RunProgram(const std::string& commandLine, DWORD timeoutMs)
{
    return RunProgramWithOutput(commandLine, nullptr, timeoutMs);
}

// Through a file, not a pipe: a program that writes more than a pipe holds cannot block on it.
int RunProgram(const std::string& commandLine, std::string& output, DWORD timeoutMs)
{
    output.clear();
    const std::string path = MakeScratchDirectory() + "\\output.txt";
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
        nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int exitCode = RunProgramWithOutput(commandLine, file, timeoutMs);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read != 0)
        output.append(chunk, read);
    CloseHandle(file);
    DeleteFileA(path.c_str());
    return exitCode;
}

void SetWineVersion(const char* program, const char* version)
{
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + program;
    if (version == nullptr)
        DeleteTree(HKEY_CURRENT_USER, key.c_str());
    else
        SetNamedValue(HKEY_CURRENT_USER, key.c_str(), "Version", version,
            static_cast<DWORD>(strlen(version) + 1), REG_SZ);
}

bool Wow64()
{
#ifdef _WIN64
    const char* wow64 = getenv("KV_WOW64");
    return wow64 != nullptr && wow64[0] == '1';
#else
    return false;
#endif
}
