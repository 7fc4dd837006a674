// One rich edit control ("RichEdit20A") showing a rich-text template of the
// program's resources with its placeholders filled in.
#pragma once

#include <windows.h>

#include "client/TemplateValues.h"

namespace quenvar {

// The resource type of the program's rich-text templates.
constexpr const wchar_t* kRichTextResourceType = L"BINARYRTF";

class RichTextView {
public:
    // `control` may be null; the view then ignores every call.
    explicit RichTextView(HWND control);
    virtual ~RichTextView();

    // Shows the "BINARYRTF" resource `id` of the program's own module. A
    // missing resource leaves the control as it is.
    void ShowResource(int id, const TemplateValues& values);
    // Expands the zero-terminated RTF `text` and replaces the control's
    // content with it.
    void ShowText(const char* text, const TemplateValues& values);

    HWND control;
};

}  // namespace quenvar
