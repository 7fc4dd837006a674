#include "DialogTemplateReader.h"

#include <cstring>

namespace quenvar::testing {

namespace {

// Sequential reader with bounds checks; any overrun makes it fail for good.
class Reader {
public:
    Reader(const void* data, size_t size) : base_(static_cast<const BYTE*>(data)), size_(size) {}

    bool ok() const { return ok_; }

    template <typename T>
    T Get() {
        T value{};
        if (!ok_ || offset_ + sizeof(T) > size_) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, base_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    std::wstring String() {
        std::wstring text;
        for (;;) {
            const WORD c = Get<WORD>();
            if (!ok_ || c == 0) return text;
            text += static_cast<wchar_t>(c);
        }
    }

    // sz_Or_Ord: 0 none, 0xFFFF followed by an ordinal, else a string.
    std::wstring StringOrOrdinal(bool* isOrdinal, WORD* ordinal) {
        *isOrdinal = false;
        const WORD first = Get<WORD>();
        if (!ok_ || first == 0) return std::wstring();
        if (first == 0xFFFF) {
            *isOrdinal = true;
            *ordinal = Get<WORD>();
            return std::wstring();
        }
        std::wstring text(1, static_cast<wchar_t>(first));
        return text + String();
    }

    void AlignTo4() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t count) {
        if (offset_ + count > size_) ok_ = false;
        else offset_ += count;
    }

private:
    const BYTE* base_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

std::wstring PredefinedClass(WORD atom) {
    switch (atom) {
    case 0x80: return L"Button";
    case 0x81: return L"Edit";
    case 0x82: return L"Static";
    case 0x83: return L"ListBox";
    case 0x84: return L"ScrollBar";
    case 0x85: return L"ComboBox";
    default: return L"#" + std::to_wstring(atom);
    }
}

std::wstring NameOrNumber(Reader& reader) {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring text = reader.StringOrOrdinal(&isOrdinal, &ordinal);
    return isOrdinal ? L"#" + std::to_wstring(ordinal) : text;
}

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* result) {
    DialogTemplate dialog;
    Reader reader(data, size);
    const WORD version = reader.Get<WORD>();
    const WORD signature = reader.Get<WORD>();
    WORD itemCount = 0;
    dialog.extended = version == 1 && signature == 0xFFFF;
    if (dialog.extended) {
        reader.Get<DWORD>();  // help id
        dialog.exStyle = reader.Get<DWORD>();
        dialog.style = reader.Get<DWORD>();
    } else {
        // DLGTEMPLATE begins with the style, which was read as two words.
        dialog.style = MAKELONG(version, signature);
        dialog.exStyle = reader.Get<DWORD>();
    }
    itemCount = reader.Get<WORD>();
    dialog.x = reader.Get<SHORT>();
    dialog.y = reader.Get<SHORT>();
    dialog.cx = reader.Get<SHORT>();
    dialog.cy = reader.Get<SHORT>();
    dialog.menu = NameOrNumber(reader);
    dialog.className = NameOrNumber(reader);
    dialog.title = reader.String();
    dialog.hasFont = (dialog.style & DS_SETFONT) != 0;
    if (dialog.hasFont) {
        dialog.pointSize = reader.Get<WORD>();
        if (dialog.extended) {
            dialog.weight = reader.Get<WORD>();
            dialog.italic = reader.Get<BYTE>() != 0;
            dialog.charset = reader.Get<BYTE>();
        }
        dialog.typeface = reader.String();
    }
    for (WORD i = 0; i < itemCount && reader.ok(); ++i) {
        DialogItem item;
        reader.AlignTo4();
        if (dialog.extended) {
            reader.Get<DWORD>();  // help id
            item.exStyle = reader.Get<DWORD>();
            item.style = reader.Get<DWORD>();
        } else {
            item.style = reader.Get<DWORD>();
            item.exStyle = reader.Get<DWORD>();
        }
        item.x = reader.Get<SHORT>();
        item.y = reader.Get<SHORT>();
        item.cx = reader.Get<SHORT>();
        item.cy = reader.Get<SHORT>();
        item.id = dialog.extended ? static_cast<int>(reader.Get<DWORD>()) : reader.Get<SHORT>();
        bool isOrdinal = false;
        WORD atom = 0;
        item.className = reader.StringOrOrdinal(&isOrdinal, &atom);
        if (isOrdinal) item.className = PredefinedClass(atom);
        item.title = NameOrNumber(reader);
        const WORD extra = reader.Get<WORD>();
        reader.Skip(extra);
        dialog.items.push_back(item);
    }
    if (!reader.ok()) return false;
    *result = dialog;
    return true;
}

bool LoadDialogTemplate(HMODULE module, int id, DialogTemplate* result) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return false;
    return ParseDialogTemplate(data, SizeofResource(module, found), result);
}

}  // namespace quenvar::testing
