#pragma once
// The security token of the running process. Results are non-zero for success; on failure the
// last-error value holds the code of the platform call that failed, and a success leaves it as
// it was found. Nothing here throws (but for memory exhaustion) or writes anything.

#include <windows.h>

#include "VelmarikApi.h"

// Switches a privilege of the process token on (enable non-zero) or off. `systemName` (null: the
// local machine) is where the name is looked up. Non-zero when the adjustment call succeeded,
// even if the token does not hold the privilege.
VELMARIK_API int EnablePrivilege(const wchar_t* privilegeName, const wchar_t* systemName, int enable);

// Non-zero when the platform's membership test finds the Administrators group in `token`.
VELMARIK_API int IsUserAnAdmin(HANDLE token);

// 1 when the process token lists the Administrators group among its groups, whatever the
// group's attributes (enabled or not, deny-only included).
VELMARIK_API int IsUserAnAdmin();
