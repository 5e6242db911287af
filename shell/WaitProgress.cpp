#include "WaitProgress.h"

#include <algorithm>
#include <iostream>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "Platform.h"

namespace {

// A wait this short passes unseen.
const unsigned long LongWait = 1000;

// The one line that follows a wait now; the callback carries no context of its own.
WaitProgressLine* g_current = nullptr;

std::wstring Seconds(unsigned long milliseconds) {
    return std::to_wstring(milliseconds / 1000) + L" s";
}

std::wstring ProgressText(const ServicesManagement::SVC_WAIT_PROGRESS& record, unsigned long waited) {
    const unsigned long givesUpAt = waited - record.millisecondsTowardBound + record.boundMilliseconds;
    std::wstring text = std::wstring(record.serviceName) + L" : " + StateShown(record.status.dwCurrentState) +
                        L", " + Seconds(waited) + L" sur " + Seconds(givesUpAt);
    if (record.status.dwCheckPoint != 0)
        text += L", point de contr\u00F4le " + std::to_wstring(record.status.dwCheckPoint);
    return text;
}

} // namespace

WaitProgressLine::WaitProgressLine() : m_console(ConsoleBehind(STD_OUTPUT_HANDLE)) {
    if (m_console)
        g_current = this;
}

WaitProgressLine::~WaitProgressLine() {
    if (g_current == this)
        g_current = nullptr;
}

void* WaitProgressLine::Context() {
    return m_console ? &m_record : nullptr;
}

ServicesManagement::SVC_PROGRESS_CALLBACK WaitProgressLine::Callback() const {
    return m_console ? FollowCurrent : nullptr;
}

void WaitProgressLine::FollowCurrent(unsigned long waited) {
    if (g_current)
        g_current->Follow(waited);
}

void WaitProgressLine::Follow(unsigned long waited) {
    if (m_record.waitEnded)
        Show(L"");
    else if (waited > LongWait)
        Show(ProgressText(m_record, waited));
}

// Writes `text` over what the line shows, blanks what it showed beyond, and brings the cursor
// back: the console's own backspace, which works from any column. The text is cut to the room
// left on the console's line, so that it never wraps to the next one, where backspaces cannot
// follow it.
void WaitProgressLine::Show(std::wstring text) {
    LastErrorKeeper keep;
    if (text.empty() && m_shown == 0)
        return;
    // The text written before the line puts the cursor where the line begins.
    std::wcout.flush();
    text.resize(std::min(text.size(), RoomOnLine()));
    const size_t covered = std::max(text.size(), m_shown);
    std::wcout << text << std::wstring(covered - text.size(), L' ') << std::wstring(covered, L'\b')
               << std::flush;
    m_shown = text.size();
}

size_t WaitProgressLine::RoomOnLine() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Os().GetConsoleScreenBufferInfo(m_console, &info))
        return 0;
    return static_cast<size_t>(std::max(info.dwSize.X - info.dwCursorPosition.X - 1, 0));
}
