#include "service/FilterList.h"

#include <algorithm>
#include <cstring>

namespace quenvar {

std::wstring LowerCaseAscii(const std::wstring& name) {
    std::wstring lower = name;
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return lower;
}

FilterList ParseFilterList(const uint8_t* data, size_t bytes) {
    FilterList names;
    const size_t units = data == nullptr ? 0 : bytes / sizeof(wchar_t);
    std::wstring entry;
    for (size_t i = 0; i < units; ++i) {
        wchar_t c;
        std::memcpy(&c, data + i * sizeof(wchar_t), sizeof(c));  // the data need not be aligned
        if (c != L'\0') {
            entry.push_back(c);
            continue;
        }
        if (entry.empty()) return names;
        names.push_back(LowerCaseAscii(entry));
        entry.clear();
    }
    if (!entry.empty()) names.push_back(LowerCaseAscii(entry));  // no final NUL
    return names;
}

std::vector<uint8_t> BuildFilterList(const FilterList& names) {
    std::wstring text;
    for (const std::wstring& name : names) {
        text += name;
        text.push_back(L'\0');
    }
    text.push_back(L'\0');
    if (names.empty()) text.resize(1);
    const auto* first = reinterpret_cast<const uint8_t*>(text.data());
    return std::vector<uint8_t>(first, first + text.size() * sizeof(wchar_t));
}

FilterList UnvettedFilters(const FilterList& current, const FilterList& known) {
    FilterList unvetted;
    for (const std::wstring& name : current)
        if (std::find(known.begin(), known.end(), name) == known.end()) unvetted.push_back(name);
    return unvetted;
}

bool RemoveFirst(FilterList* list, const std::wstring& name) {
    auto it = std::find(list->begin(), list->end(), name);
    if (it == list->end()) return false;
    list->erase(it);
    return true;
}

std::wstring FilterPromptText(const std::wstring& name) {
    return L"Quenvar Lockmere has detected an unknown keyboard filter driver installed on your computer.  This "
           L"driver has access to every key you press and may be part of a spy program.\n\nThe driver's name is: '" +
           name +
           L"'\n\nNote: A standard Windows XP installation DOES NOT have keyboard filter drivers installed.  A "
           L"keyboard filter driver is a low-level driver that sits between your keyboard and the Windows "
           L"operating system.  Each key you press on the keyboard is first sent to all installed keyboard filter "
           L"drivers before being processed by Windows.  This gives keyboard filter drivers a great deal of power "
           L"in watching your keyboard.  Such drivers see every key you press and can save them to disk or "
           L"otherwise track them.  You should be very careful when you choose to allow a keyboard filter driver "
           L"to have access to your system.  If you're in doubt, deny access and review the Quenvar Lockmere help "
           L"file for more guidance on this.  You can always reinstall the driver at a later time if you need it."
           L"\n\nDo you want to allow this driver to watch your keyboard?";
}

}  // namespace quenvar
