// Reads a compiled dialog template (DLGTEMPLATE or DLGTEMPLATEEX) back into
// plain values, so tests can compare a resource with what it must hold.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quenvar::testing {

struct DialogItem {
    int id = 0;                 // -1 for "no id"
    std::wstring className;     // predefined classes by name: "Button", "Static", ...
    std::wstring title;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu;
    std::wstring className;
    std::wstring title;
    bool hasFont = false;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    int charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// False when the bytes end before the template does or are not a template.
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* result);

// The RT_DIALOG resource `id` of `module`.
bool LoadDialogTemplate(HMODULE module, int id, DialogTemplate* result);

}  // namespace quenvar::testing
