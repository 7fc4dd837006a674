// Placeholder values of the program's rich-text templates and their
// expansion. A template is an ANSI RTF document in which %name% stands for
// program data; every value is stored as RTF "\uN?" escapes so that any
// character, and any RTF syntax in the data, shows literally.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <map>
#include <string>

namespace quenvar {

class ProgramInfo;

// Placeholder (with both percent signs, such as "%progname%") to its value as
// RTF text. Keys compare by byte value. Empty: nothing is substituted.
using TemplateValues = std::map<std::string, std::string>;

// A formatted value keeps at most this many characters.
constexpr size_t kTemplateValueUnits = 2047;
// An escaped value keeps at most this many bytes, cut after a whole escape.
constexpr size_t kEscapedValueBytes = 4095;

// Sets the eight placeholders of a program's templates from its identity;
// %progpath% through EscapeTemplatePath.
void FillTemplateValues(const ProgramInfo& info, TemplateValues& values);

// Formats the arguments with the wide `format` (C runtime rules: %s takes a
// wide string) and stores the escaped result as values[placeholder].
void SetTemplateValue(TemplateValues& values, const char* placeholder, const wchar_t* format, ...);
void SetTemplateValueV(TemplateValues& values, const char* placeholder, const wchar_t* format, va_list args);

// `format` and the arguments as text, cut to kTemplateValueUnits characters.
std::wstring FormatTemplateValue(const wchar_t* format, va_list args);

// Every UTF-16 code unit of the zero-terminated `text` as "\uN?" with N its
// unsigned value, ASCII included; cut to kEscapedValueBytes bytes, never
// inside an escape.
std::string EscapeTemplateValue(const wchar_t* text);

// The path escaped as EscapeTemplateValue does, whole when that fits in
// kEscapedValueBytes. A longer one is cut in the middle instead: its root (the
// drive, or the server of a network path) and its file name stay whole, as
// much of the folders on either side of the cut as fits, and "..." marks it.
std::string EscapeTemplatePath(const std::wstring& path);

// The zero-terminated `text` with every placeholder of `values` replaced by its
// value. At each '%' the placeholders are tried in ascending order and the
// first that the text continues with wins; a '%' that starts none is kept.
// Values are not scanned again.
std::string ExpandTemplate(const char* text, const TemplateValues& values);

}  // namespace quenvar
