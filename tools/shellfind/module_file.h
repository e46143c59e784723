// What the doctor learns from a module's file without loading its code: whether it is a PE
// image, for which processor, and the player name it carries.
#pragma once

#include <windows.h>

struct ModuleFileFacts {
    bool exists;
    bool isImage; // a PE image that Windows would map
    WORD machine; // IMAGE_FILE_MACHINE_I386 or _AMD64, or another
    bool isDll; // an image marked as a library, not a program
    char productName[260]; // the module's product-name slot, empty when blank or not found
};

void ReadModuleFileFacts(const char* path, ModuleFileFacts& facts);

// 32 or 64 for the x86 processors, else 0.
int MachineBits(WORD machine);
// "32-bit", "64-bit" or "unknown-processor".
const char* MachineBitness(WORD machine);
