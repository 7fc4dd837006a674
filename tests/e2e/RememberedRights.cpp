#include "RememberedRights.h"

#include <windows.h>

#include "SystemSupport.h"
#include "client/RecordSignature.h"
#include "common/UniqueResource.h"

namespace quenvar::e2e {
namespace {

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights";
const std::wstring kProbe = L"C:\\quenvar-probe\\served.exe";

UniqueRegKey RightsKey() {
    UniqueRegKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(), nullptr);
    return key;
}

}  // namespace

void RememberRights(const std::wstring& path, uint8_t denied, uint8_t allowed) {
    DeriveMachineKey();
    const RightsRecord record = BuildRecord(denied, allowed, Fingerprint(path.c_str()).data());
    RegSetValueExW(RightsKey().get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record),
                   sizeof(record));
}

bool WaitUntilServed(standin::StandInDriverClient& driver, uint32_t eventId, std::vector<JournalEntry>* journal) {
    RememberRights(MakeProgramFile(kProbe, 0), 0, 0x07);
    const std::wstring path = KernelPath(kProbe);
    driver.Inject(standin::MakeEvent(eventId, kKeyboardHook, GetCurrentProcessId(), path, path));
    bool served = false;
    for (const DWORD start = GetTickCount(); !served && GetTickCount() - start < 30000;) {
        for (const JournalEntry& entry : driver.WaitForJournal(1, 100)) {
            served = served || (entry.kind == JOURNAL_REPLY && standin::ReplyOf(entry).eventId == eventId);
            if (journal != nullptr) journal->push_back(entry);
        }
    }
    RegDeleteValueW(RightsKey().get(), kProbe.c_str());
    return served;
}

}  // namespace quenvar::e2e
