// What the client tests share: events for the access prompt, the identity
// fixture files, the plain text of rich edit controls, and stored rights.
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

// Stores a sealed rights record for the file under HKCU, as the program would
// after the user's answers.
void RememberRights(const std::wstring& path, uint32_t denied, uint32_t allowed);

// Clicks a button as the mouse would (BM_CLICK) and dispatches what follows.
void Click(HWND button);

}  // namespace quenvar::testing
