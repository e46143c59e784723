#include "shell_policy.h"

#include "registry_text.h"

void ReadShellPolicy(const char* classId, REGSAM view, ShellPolicy& policy)
{
    policy = ShellPolicy();
    // The machine's policy first, then the user's: either one set enforces approval.
    const struct {
        HKEY root;
        const char* name;
        REGSAM view;
    } roots[] = {{HKEY_LOCAL_MACHINE, "HKLM", view}, {HKEY_CURRENT_USER, "HKCU", 0}};
    for (const auto& root : roots) {
        RegistryNumber value = {};
        ReadRegistryNumber(root.root, PoliciesKey, PolicyValueName, root.view, value);
        if (value.result == ReadResult::NoKey || value.result == ReadResult::NoValue
            || value.result == ReadResult::KeyRefused
            || (value.result == ReadResult::Ok && value.value == 0))
            continue;
        // Whether the shell honours a value of another type is not documented: a policy that
        // someone meant to set is taken as set.
        if (value.result != ReadResult::Ok) {
            policy.policyMalformed = true;
            policy.policyType = value.type;
        }
        if (!policy.enforced) {
            policy.enforced = true;
            policy.enforcedBy = root.name;
        }
    }

    const ReadResult machineApproval
        = RegistryValueState(HKEY_LOCAL_MACHINE, ApprovedKey, classId, view);
    policy.approved = machineApproval == ReadResult::Ok;
    policy.approvedUnreadable
        = machineApproval == ReadResult::KeyRefused || machineApproval == ReadResult::Failed;
    policy.approvedByUserOnly = !policy.approved
        && RegistryValueState(HKEY_CURRENT_USER, ApprovedKey, classId, 0) == ReadResult::Ok;

    for (const auto& root : roots) {
        const ReadResult state = RegistryValueState(root.root, BlockedKey, classId, root.view);
        if (state == ReadResult::Ok && !policy.blocked) {
            policy.blocked = true;
            policy.blockedBy = root.name;
        }
        if (state == ReadResult::KeyRefused || state == ReadResult::Failed)
            policy.blockedUnreadable = true;
    }
}
