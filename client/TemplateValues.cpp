#include "client/TemplateValues.h"
#include "common/WideFormat.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "client/ProgramInfo.h"

namespace quenvar {

namespace {

struct PlaceholderSource {
    const char* placeholder;
    std::wstring ProgramInfo::*field;
};

const PlaceholderSource kPlaceholderSources[] = {
    {"%progdescription%", &ProgramInfo::comments},
    {"%progversion%", &ProgramInfo::fileVersion},
    {"%progcompany%", &ProgramInfo::companyName},
    {"%productname%", &ProgramInfo::productName},
    {"%productversion%", &ProgramInfo::productVersion},
    {"%productcopyright%", &ProgramInfo::legalCopyright},
    {"%progname%", &ProgramInfo::displayName},
};

// True when `text` continues with all of `placeholder`; never reads past the
// end of `text`.
bool BeginsWith(const char* text, const std::string& placeholder) {
    for (size_t i = 0; i < placeholder.size(); ++i)
        if (text[i] == '\0' || text[i] != placeholder[i]) return false;
    return true;
}

}  // namespace

void FillTemplateValues(const ProgramInfo& info, TemplateValues& values) {
    // The field is an argument, never the format: a '%' in it stays text.
    for (const PlaceholderSource& source : kPlaceholderSources)
        SetTemplateValue(values, source.placeholder, L"%ls", (info.*source.field).c_str());
    // Neither the formatting cut nor the escaping cut takes the file name off.
    values["%progpath%"] = EscapeTemplatePath(info.path);
}

void SetTemplateValue(TemplateValues& values, const char* placeholder, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    SetTemplateValueV(values, placeholder, format, args);
    va_end(args);
}

void SetTemplateValueV(TemplateValues& values, const char* placeholder, const wchar_t* format, va_list args) {
    const std::wstring text = FormatTemplateValue(format, args);
    values[placeholder] = EscapeTemplateValue(text.c_str());
}

std::wstring FormatTemplateValue(const wchar_t* format, va_list args) {
    wchar_t text[kTemplateValueUnits + 1];
    FormatIntoV(text, kTemplateValueUnits + 1, format, args);
    return text;
}

std::string EscapeTemplateValue(const wchar_t* text) {
    char escaped[kEscapedValueBytes + 1];
    size_t used = 0;
    for (const wchar_t* unit = text; *unit != L'\0'; ++unit) {
        char one[16];
        const unsigned codeUnit = static_cast<uint16_t>(*unit);
        const int length = std::snprintf(one, sizeof one, "\\u%u?", codeUnit);
        if (length <= 0 || used + static_cast<size_t>(length) > kEscapedValueBytes) break;
        std::memcpy(escaped + used, one, static_cast<size_t>(length));
        used += static_cast<size_t>(length);
    }
    escaped[used] = '\0';
    return std::string(escaped, used);
}

std::string EscapeTemplatePath(const std::wstring& path) {
    // "\\uN?" for a unit of value N.
    const auto size = [&path](size_t at) { return std::to_string(static_cast<uint16_t>(path[at])).size() + 3; };
    size_t used = 0;
    for (size_t at = 0; at < path.size(); ++at) used += size(at);
    if (used <= kEscapedValueBytes) return EscapeTemplateValue(path.c_str());

    const std::string cut = EscapeTemplateValue(L"...");
    const size_t nameSlash = path.rfind(L'\\');
    const size_t rootSlash = path.find(L'\\', path.find_first_not_of(L'\\'));
    size_t head = rootSlash == std::wstring::npos ? 0 : rootSlash + 1;
    size_t tail = nameSlash == std::wstring::npos || nameSlash < head ? head : nameSlash;
    used = cut.size();
    for (size_t at = 0; at < head; ++at) used += size(at);
    for (size_t at = tail; at < path.size(); ++at) used += size(at);
    if (used > kEscapedValueBytes) return EscapeTemplateValue(path.c_str());
    // Folders from both sides in turn; the whole path does not fit, so the
    // two never meet.
    for (bool grew = true; grew;) {
        grew = false;
        if (used + size(head) <= kEscapedValueBytes) {
            used += size(head++);
            grew = true;
        }
        if (used + size(tail - 1) <= kEscapedValueBytes) {
            used += size(--tail);
            grew = true;
        }
    }
    return EscapeTemplateValue(path.substr(0, head).c_str()) + cut + EscapeTemplateValue(path.substr(tail).c_str());
}

std::string ExpandTemplate(const char* text, const TemplateValues& values) {
    if (values.empty()) return text;
    std::string result;
    const char* at = text;
    while (*at != '\0') {
        if (*at == '%') {
            bool replaced = false;
            for (const auto& [placeholder, value] : values) {
                // An empty key would match without consuming anything.
                if (placeholder.empty()) continue;
                if (BeginsWith(at, placeholder)) {
                    result += value;
                    at += placeholder.size();
                    replaced = true;
                    break;
                }
            }
            if (replaced) continue;
        }
        result += *at;
        ++at;
    }
    return result;
}

}  // namespace quenvar
