#include "ClientTestSupport.h"

#include <gtest/gtest.h>
#include <richedit.h>

#include <cwchar>

#include "client/EventJudge.h"
#include "client/ProcessRightsCache.h"
#include "client/RecordSignature.h"
#include "common/UniqueResource.h"
#include "resources/ResourceIds.h"
#include "ui/UiTestSupport.h"

namespace quenvar::testing {

std::wstring FixturePath(const wchar_t* fileName) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.erase(path.rfind(L'\\') + 1);
    return path + fileName;
}

std::wstring RichText(HWND control) {
    std::wstring text(32768, L'\0');
    GETTEXTEX how = {};
    how.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    how.flags = GT_DEFAULT;
    how.codepage = 1200;
    const LRESULT length =
        SendMessageW(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

std::vector<std::wstring> Paragraphs(const std::wstring& text) {
    std::vector<std::wstring> result;
    std::wstring current;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            result.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) result.push_back(current);
    return result;
}

ScratchRichEdit::ScratchRichEdit() {
    PrepareWindows();
    control = CreateWindowExW(0, L"RichEdit20A", L"", WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 600, 400, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
}

ScratchRichEdit::~ScratchRichEdit() {
    if (control != nullptr) DestroyWindow(control);
}

void Click(HWND button) {
    SendMessageW(button, BM_CLICK, 0, 0);
    PumpFor(50);
}

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights";

bool StoredRecord(const std::wstring& path, std::vector<uint8_t>* bytes) {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) return false;
    uint8_t buffer[256];
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key.get(), path.c_str(), nullptr, nullptr, buffer, &size) != ERROR_SUCCESS) return false;
    if (bytes != nullptr) bytes->assign(buffer, buffer + size);
    return true;
}

void DeleteStoredRecord(const std::wstring& path) {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), path.c_str());
}

std::wstring TempProgram(const wchar_t* name, int salt) {
    wchar_t folder[MAX_PATH], longPath[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + name;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), &salt, sizeof(salt), &written, nullptr);
    return GetLongPathNameW(path.c_str(), longPath, MAX_PATH) != 0 ? longPath : path;
}

void RememberRights(const std::wstring& path, uint32_t denied, uint32_t allowed) {
    DeriveMachineKey();
    const Sha1Digest fingerprint = Fingerprint(path.c_str());
    const RightsRecord record = BuildRecord(denied, allowed, fingerprint.data());
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.receive(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record),
                             sizeof(record)),
              ERROR_SUCCESS);
}

void LoadKindTexts() {
    const int ids[3] = {IDS_BREACH_SCREEN, IDS_BREACH_KEYBOARD, IDS_BREACH_WINDOW_TEXT};
    for (int kind = 0; kind < 3; ++kind)
        LoadStringW(GetModuleHandleW(nullptr), ids[kind], breachLogPrefix[kind], kBreachLogPrefixLength);
}

std::string RtfEscaped(const std::wstring& text) {
    std::string units;
    for (const wchar_t unit : text) units += "\\u" + std::to_string(static_cast<uint16_t>(unit)) + "?";
    return units;
}

DWORD LiveHandles() {
    // Wine gives a new handle the lowest free value, so every handle in use, a
    // leaked one too, lies below the first long run of free values: the count
    // stops after 1024 of them.
    DWORD count = 0, flags = 0;
    for (uintptr_t value = 4, freeRun = 0; freeRun < 1024; value += 4) {
        const bool live = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
        count += live ? 1 : 0;
        freeRun = live ? 0 : freeRun + 1;
    }
    return count;
}

ChildProcess::ChildProcess() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started = CreateProcessW(self, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                             &info) != FALSE;
}

ChildProcess::~ChildProcess() {
    End();
    if (!started) return;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

// Again after the end, the call fails and the wait returns at once.
void ChildProcess::End() {
    if (!started) return;
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, INFINITE);
}

}  // namespace quenvar::testing
