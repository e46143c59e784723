// The stack protector's guard, in the hardened build only (KV_STACK_GUARD). Without the C
// runtime's start-up code nothing else would set it, and a guard that stays 0 is a canary an
// attacker knows.
#pragma once

// Called first thing at process attach, from a function that has no canary of its own.
void InitializeStackGuard();
