// A module's own registration, called the way regsvr32 calls it but without a dialog: shellfind
// register and unregister, and what repair runs to register the module again.
#pragma once

#include <windows.h>

class RegistryBackup;

// Our class, as registration writes it, and the bitness of this build of shellfind.
constexpr char OurClassId[] = "{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}";
constexpr int OwnBits = static_cast<int>(sizeof(void*) * 8);

enum class RegistrationCall { Register, Unregister };

// Loads path, a module of shellfind's own bitness that exports the function, and calls its
// DllRegisterServer or DllUnregisterServer; prints the outcome with the HRESULT and what it means.
// When the call fails, our registry layout is put back as it was. Returns shellfind's exit code:
// Success only on S_OK.
int CallRegistration(const char* path, RegistrationCall call);

// shellfind register [MODULE] and unregister [MODULE]; module null for the default: for register
// the path registration writes (the player's directory and this build's file name), for
// unregister the module the entry's class names, else the one beside the player.
int RegistrationCommand(const char* module, RegistrationCall call);

// Our registry layout, every key registration writes, saved as it is now.
bool SaveRegisteredLayout(RegistryBackup& backup);

// The release file of the other bitness's shellfind, for what this one cannot load:
// "shellfind-VERSION-x64.exe" for 64, "...-x86.exe" for 32.
const char* ShellfindBuildFor(int bits);
