#pragma once
// Holds a privilege of the process token switched on while it lives, then puts the token back as
// it was: a privilege that was on before stays on. Neither step changes the last-error value, so
// that the call made under the privilege reports its own outcome; a token that does not hold the
// privilege simply goes on without it.

#include <windows.h>

#include "HandleGuard.h"

class PrivilegeHold {
public:
    // `wanted` false holds nothing, for callers that need the privilege only sometimes.
    PrivilegeHold(const wchar_t* privilege, bool wanted);
    ~PrivilegeHold();
    PrivilegeHold(const PrivilegeHold&) = delete;
    PrivilegeHold& operator=(const PrivilegeHold&) = delete;

private:
    UniqueKernelHandle m_token;
    // What the switch changed, as it was before; empty when it changed nothing.
    TOKEN_PRIVILEGES m_previous = {};
};
