#pragma once
// The line that shows how a long wait of a state change goes, on a console only:
//
//     Spooler : Démarrage en cours, 3 s sur 31 s, point de contrôle 4
//
// the service, its state, the seconds waited and those at which the wait gives up unless the
// service reports progress, and its checkpoint once it has one. It shows once a wait has lasted
// more than a second, where the cursor stands (a dependent's stop waits after "Name : "), changes
// in place at each poll and is wiped when the wait ends: the console then holds what it would
// have held without it. Redirected output never receives it.

#include <windows.h>

#include <string>

#include "SvcObj.h"

class WaitProgressLine {
public:
    // Follows the waits of the state changes given Callback and Context while it lives; one at a
    // time (the console runs one command at a time).
    WaitProgressLine();
    ~WaitProgressLine();
    WaitProgressLine(const WaitProgressLine&) = delete;
    WaitProgressLine& operator=(const WaitProgressLine&) = delete;

    // The state change's last two arguments: both null when the standard output is no console.
    void* Context();
    ServicesManagement::SVC_PROGRESS_CALLBACK Callback() const;

private:
    static void FollowCurrent(unsigned long waited);
    void Follow(unsigned long waited);
    void Show(std::wstring text);
    size_t RoomOnLine() const;

    HANDLE m_console;
    ServicesManagement::SVC_WAIT_PROGRESS m_record = {};
    // The characters the line shows now, from the cursor on.
    size_t m_shown = 0;
};
