// What the client tests share: events for the access prompt, the identity
// fixture files, the plain text of rich edit controls, stored rights, the kinds'
// log prefixes and a second live process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/DriverInterface.h"

namespace quenvar::testing {

// The full path of a fixture file built next to this test program
// ("QuenvarFixtureFull.dll", "QuenvarFixtureBlank.dll", "QuenvarFixtureNone.dll").
std::wstring FixturePath(const wchar_t* fileName);

// Each UTF-16 unit as the templates take it, "\\uN?" with N its unsigned value,
// written here apart from the program's own escaping.
std::string RtfEscaped(const std::wstring& text);

// The control's whole text as UTF-16 (EM_GETTEXTEX, code page 1200).
std::wstring RichText(HWND control);

// The text cut at its paragraph breaks ("\r", "\r\n" or "\n"); a break at the
// very end gives no empty last paragraph.
std::vector<std::wstring> Paragraphs(const std::wstring& text);

// A hidden top-level rich edit control of the program's class, for rendering
// a document without a dialog. Destroyed with the object.
class ScratchRichEdit {
public:
    ScratchRichEdit();
    ~ScratchRichEdit();
    HWND control;
};

// The program's stored rights record, read or deleted as the access list
// would; StoredRecord is false when there is none.
bool StoredRecord(const std::wstring& path, std::vector<uint8_t>* bytes = nullptr);
void DeleteStoredRecord(const std::wstring& path);

// Makes a small program file in the temp folder, holding the salt; returns its
// long path.
std::wstring TempProgram(const wchar_t* name, int salt);

// Stores a sealed rights record for the file under HKCU, as the program would
// after the user's answers.
void RememberRights(const std::wstring& path, uint32_t denied, uint32_t allowed);

// Clicks a button as the mouse would (BM_CLICK) and dispatches what follows.
void Click(HWND button);

// Loads the log prefixes of the three kinds from the program's string table,
// by the ids the program start loads them with.
void LoadKindTexts();

// This program's open handles, counted by asking about each handle value:
// Wine reports no handle count (GetProcessHandleCount gives 0).
DWORD LiveHandles();

// A real process that stays alive (a suspended copy of this program) until
// End or the end of the object.
struct ChildProcess {
    ChildProcess();
    ~ChildProcess();
    void End();
    uint32_t id() const { return info.dwProcessId; }
    bool started = false;
    PROCESS_INFORMATION info = {};
};

}  // namespace quenvar::testing
