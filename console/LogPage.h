// The activity log: the "Log" tab page and AddLogEntry, through which any
// thread of the program writes a time-stamped line to it.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>

#include "ui/ListViewControl.h"
#include "ui/ModelessDialog.h"

namespace quenvar {

class LogPage : public ModelessDialog {
public:
    // `parent` is the main window's tab control. Becomes the page AddLogEntry
    // writes to.
    explicit LogPage(HWND parent);
    ~LogPage() override;

    // "Clear Log" (1031); other ids are ignored.
    void OnCommand(int controlId, HWND controlWindow) override;

    // Columns "Time" and "Message"; each row's data is its repeat count.
    std::unique_ptr<ListViewControl> listView;
    HWND clearButton;
};

// The page AddLogEntry writes to; null while none exists. Changed under logLock.
extern LogPage* logPage;

// Orders each entry's read of the last row with its insertion or update.
// Unnamed, created unowned during static initialisation.
// Never closed: other threads may wait for it until the process ends.
extern HANDLE logLock;

// The log's clock: the local time. Tests replace it to control the time text.
using LogClock = SYSTEMTIME (*)();
extern LogClock logClock;
SYSTEMTIME LocalTimeNow();

// Adds a line to the log from any thread: `format` and the arguments as for the
// C runtime's wide printf (%ls takes a wide string), cut to 1023 characters.
// Within one second a message that the last row's message begins with is
// folded into that row, "message (N times)". Dropped while no page exists.
void AddLogEntry(const wchar_t* format, ...);
void AddLogEntryV(const wchar_t* format, va_list args);

}  // namespace quenvar
