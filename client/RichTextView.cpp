#include "client/RichTextView.h"

#include <richedit.h>

#include <cstring>
#include <string>

namespace quenvar {

RichTextView::RichTextView(HWND control) : control(control) {}

RichTextView::~RichTextView() = default;

void RichTextView::ShowResource(int id, const TemplateValues& values) {
    if (control == nullptr) return;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), kRichTextResourceType);
    if (found == nullptr) return;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return;
    const char* data = static_cast<const char*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, found);
    if (data == nullptr || size == 0) return;
    // The documents end with a zero byte; one that lacks it is still read no
    // further than its own size.
    if (std::memchr(data, '\0', size) != nullptr) {
        ShowText(data, values);
    } else {
        const std::string terminated(data, size);
        ShowText(terminated.c_str(), values);
    }
}

void RichTextView::ShowText(const char* text, const TemplateValues& values) {
    if (control == nullptr) return;
    const std::string expanded = ExpandTemplate(text, values);
    SETTEXTEX how = {};
    how.flags = ST_DEFAULT;  // replace everything, keep no undo
    how.codepage = CP_ACP;
    SendMessageW(control, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(expanded.c_str()));
}

}  // namespace quenvar
