// Title, banner and screen clearing.

#include "Console.h"

#include <iostream>

#include "Platform.h"
#include "ProductText.h"
#include "UsageText.h"

const wchar_t ProductString[] = ORVEL_PRODUCT_NAME L" version " ORVEL_VERSION;

void UpdateConsoleTitle(const SimpleString& text, int append) {
    LastErrorKeeper keep;
    if (!text) {
        Os().SetConsoleTitleW(ProductString);
        return;
    }
    SimpleString base(ProductString);
    if (append) {
        const unsigned int capacity = text.Length() + 1025;
        base.Alloc(capacity * sizeof(wchar_t));
        Os().GetConsoleTitleW(base, capacity);
    }
    Os().SetConsoleTitleW(base + L" - " + text);
}

void UpdateConsoleTitle(const wchar_t* text, int append) { UpdateConsoleTitle(SimpleString(text), append); }

void PrintBanner() {
    std::wcout << L'\n'
               << ProductString << L'\n'
               << L"Console version." << L'\n'
               << ORVEL_COPYRIGHT << L'\n'
               << std::endl;
}

namespace {

// Blanks the whole screen buffer and homes the cursor; false when output is not a console.
bool ClearConsoleBuffer() {
    LastErrorKeeper keep;
    HANDLE out = Os().GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Os().GetConsoleScreenBufferInfo(out, &info))
        return false;
    const COORD home = {0, 0};
    DWORD written = 0;
    Os().FillConsoleOutputCharacterW(out, L' ', static_cast<DWORD>(info.dwSize.X) * info.dwSize.Y, home, &written);
    Os().SetConsoleCursorPosition(out, home);
    return true;
}

} // namespace

int ClearScreen(unsigned long argc, wchar_t**) {
    if (ShowUsageUnless(argc == 0, ClearScreenHelp))
        return 0;
    std::wcout.flush();
    if (!ClearConsoleBuffer())
        std::wcout << L'\f' << std::flush;
    return 1;
}

void ClearScreenHelp() {
    PrintUsageText({
        L"Efface l'écran.",
        L"",
        L"UTILISATION :",
        L"    Mode Batch      : ORVEL CLS",
        L"    Mode Interactif : CLS",
        L"",
        L"    Quand la sortie n'est pas une console (redirection vers un fichier),",
        L"    CLS écrit un caractère de saut de page.",
        L"",
        L"EXEMPLE :",
        L"    CLS",
    });
}
