#include "registration_call.h"

#include "console.h"
#include "exit_codes.h"
#include "kvshellsearch.h"
#include "module_file.h"
#include "preferences.h"
#include "registration_rules.h"
#include "registry_backup.h"
#include "registry_text.h"
#include "shell_paths.h"
#include "text.h"

namespace {

// Why path cannot be registered by this shellfind, or null when it can be loaded.
const char* Refusal(const char* path, char* why, size_t size)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return "does not exist";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "is a directory, not a module";
    ModuleFileFacts facts = {};
    ReadModuleFileFacts(path, facts);
    if (!facts.isImage)
        return "is not a Windows module";
    if (!facts.isDll)
        return "is a program, not a module";
    const int bits = MachineBits(facts.machine);
    if (bits == 0)
        return "is a module for another processor";
    if (bits != OwnBits) {
        FormatText(why, size, "is a %d-bit module, which this %d-bit shellfind cannot load: use %s",
            bits, OwnBits, ShellfindBuildFor(bits));
        return why;
    }
    return nullptr;
}

void PrintResult(const char* function, const char* path, HRESULT result)
{
    char message[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(result), 0, message, sizeof message - 1, nullptr);
    // FormatMessage ends its text with a line break.
    for (size_t i = TextLength(message);
         i > 0 && (message[i - 1] == '\r' || message[i - 1] == '\n'); --i)
        message[i - 1] = '\0';
    Print("%s of \"%s\" returned 0x%08lX%s%s\n", function, path, static_cast<unsigned long>(result),
        message[0] != '\0' ? ": " : "", message);
}

bool ModuleBesideThePlayer(char* path)
{
    char mainApp[TextBufferSize] = {};
    return ReadMainApp(DefaultProductName, 0, mainApp, sizeof mainApp).result
        == TextReadResult::Read
        && SUCCEEDED(MakeRegisteredModulePath(mainApp, ModuleFileName, path));
}

} // namespace

const char* ShellfindBuildFor(int bits)
{
    return bits == 64 ? "the 64-bit shellfind (shellfind-" KV_VERSION "-x64.exe)"
                      : "the 32-bit shellfind (shellfind-" KV_VERSION "-x86.exe)";
}

bool SaveRegisteredLayout(RegistryBackup& backup)
{
    bool saved = true;
    for (const RegisteredKey& key : RegistrationLayout) {
        char path[TextBufferSize] = {};
        FormatRegisteredKeyPath(key, OurClassId, path);
        saved = backup.Save(key.root, path) && saved;
    }
    return saved;
}

int CallRegistration(const char* path, RegistrationCall call)
{
    const char* function
        = call == RegistrationCall::Register ? "DllRegisterServer" : "DllUnregisterServer";
    char why[256] = {};
    if (const char* refusal = Refusal(path, why, sizeof why)) {
        PrintError("\"%s\" %s: nothing was written\n", path, refusal);
        return RegistrationFailed;
    }
    // As COM loads an in-process server: the module's own directory first for what it imports.
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        PrintError("\"%s\" does not load (error %lu): nothing was written\n", path, GetLastError());
        return RegistrationFailed;
    }
    typedef HRESULT(STDAPICALLTYPE * RegistrationFunction)();
    auto registration = reinterpret_cast<RegistrationFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, function)));
    if (registration == nullptr) {
        PrintError("\"%s\" exports no %s: it cannot register itself; nothing was written\n", path,
            function);
        FreeLibrary(module);
        return RegistrationFailed;
    }
    RegistryBackup before;
    const bool saved = SaveRegisteredLayout(before);
    const HRESULT result = registration();
    // Left loaded, as regsvr32 leaves it until it exits: a foreign module may still run code.
    PrintResult(function, path, result);
    if (result == S_OK)
        return Success;
    if (saved && before.Restore())
        PrintError("%s failed: the registration is back as it was before\n", function);
    else
        PrintError("%s failed, and the registration could not be put back as it was\n", function);
    return RegistrationFailed;
}

int RegistrationCommand(const char* module, RegistrationCall call)
{
    char path[PathTextSize] = {};
    if (module != nullptr) {
        lstrcpynA(path, module, sizeof path);
    } else if (call == RegistrationCall::Unregister) {
        char server[TextBufferSize] = {};
        FormatText(server, sizeof server, "CLSID\\%s\\InProcServer32", OurClassId);
        RegistryText registered = {};
        ReadRegistryText(HKEY_CLASSES_ROOT, server, "", 0, registered);
        if ((registered.result != ReadResult::Ok || !FindModuleAsTheShell(registered.text, path))
            && !ModuleBesideThePlayer(path)) {
            PrintError("No module is registered for the class, and the player's path (MainApp) "
                       "names none: name it: shellfind unregister MODULE\n");
            return RegistrationFailed;
        }
    } else if (!ModuleBesideThePlayer(path)) {
        PrintError("The player's path (HKCR\\...\\Preferences\\MainApp) cannot be read, so the "
                   "module's place beside the player is unknown: name it: shellfind register "
                   "MODULE\n");
        return RegistrationFailed;
    }
    return CallRegistration(path, call);
}
