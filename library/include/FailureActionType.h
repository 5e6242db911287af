#pragma once
// A failure action's type as the number it holds. The record may carry any number (a service's
// configuration keeps what it was given, and set configex passes on what is typed), while a value
// of SC_ACTION_TYPE beyond its enumerators may not even be read as one: the number goes in and out
// as its bytes.

#include <windows.h>

#include <cstring>

inline DWORD ActionTypeNumber(const SC_ACTION& action) {
    static_assert(sizeof(DWORD) == sizeof action.Type, "the type is a 32-bit number");
    DWORD number = 0;
    std::memcpy(&number, &action.Type, sizeof number);
    return number;
}

inline void SetActionTypeNumber(SC_ACTION& action, DWORD number) {
    std::memcpy(&action.Type, &number, sizeof number);
}
