// What the shell honours before it loads a shell extension: the Blocked lists of the machine and
// the user, and, where the EnforceShellExtensionSecurity policy is set, the machine's Approved
// list. list, invoke, menu and the doctor all ask this one reading.
#pragma once

#include <windows.h>

struct ShellPolicy {
    bool enforced; // approval is required
    const char* enforcedBy; // "HKLM" or "HKCU", where the policy was found set
    bool policyMalformed; // a policy value that is not a REG_DWORD: taken as set
    DWORD policyType;
    bool approved; // a value named after the class in HKLM's Approved key, in the view read
    bool approvedByUserOnly; // only HKCU's Approved key names it: not documented to count
    bool approvedUnreadable; // HKLM's Approved key refuses to be read: nothing is approved
    bool blocked;
    const char* blockedBy; // "HKLM" or "HKCU"
    bool blockedUnreadable; // a Blocked key refuses to be read: it blocks nothing it cannot show

    bool Allows() const { return !blocked && (!enforced || approved); }
};

constexpr char PoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char PolicyValueName[] = "EnforceShellExtensionSecurity";
constexpr char ApprovedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr char BlockedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Blocked";

// view: 0, or KEY_WOW64_32KEY / KEY_WOW64_64KEY for HKLM's keys (HKCU's are not redirected).
void ReadShellPolicy(const char* classId, REGSAM view, ShellPolicy& policy);
