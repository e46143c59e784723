// Reading the shell's find extensions from the registry, as the shell does.
#pragma once

#include <windows.h>

#define FindExtensionsStaticKey                                                                    \
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static"

struct FindEntry {
    char name[256];
    char classId[64]; // default value of the entry's key
    char menuText[1024]; // default value of its subkey 0
    char iconPath[1024]; // default value of 0\DefaultIcon
    char className[1024]; // default value of HKCR\CLSID\{class}
    char modulePath[1024]; // default value of HKCR\CLSID\{class}\InProcServer32
    bool classRegistered;
};

// Fills up to capacity entries, in the registry's order; returns how many.
int ReadFindEntries(FindEntry* entries, int capacity);
