// Command-line control of the stand-in driver: inject access events and print
// what the service answered. For tests and the end-to-end demonstration.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/StandInDriverClient.h"
#include "support/Utf8Print.h"

using namespace quenvar;
using namespace quenvar::standin;

namespace {

int Usage() {
    PrintError(L"usage:\n"
               L"  QuenvarDriverControl inject KIND PID PROCESS_PATH [MODULE_PATH [THREAD_ID [EVENT_ID]]]\n"
               L"  QuenvarDriverControl scenario FILE   (lines: KIND PID THREAD_ID PROCESS_PATH [| MODULE_PATH])\n"
               L"  QuenvarDriverControl journal [COUNT [TIMEOUT_MS]]\n"
               L"  QuenvarDriverControl status VALUE\n"
               L"  QuenvarDriverControl state\n"
               L"  QuenvarDriverControl reset\n");
    return 2;
}

uint32_t Number(const wchar_t* text) { return static_cast<uint32_t>(wcstoul(text, nullptr, 0)); }

uint32_t NextEventId(StandInDriverClient& driver) {
    const StandInState state = driver.QueryState();
    return state.deliveredEvents + state.queuedEvents + 1;
}

std::wstring Trim(const std::wstring& s) {
    const size_t b = s.find_first_not_of(L" \t\r");
    if (b == std::wstring::npos) return L"";
    return s.substr(b, s.find_last_not_of(L" \t\r") - b + 1);
}

// One event per line; the paths are the rest of the line, split at " | ".
bool ReadScenario(const wchar_t* file, uint32_t firstId, std::vector<AccessEvent>* events) {
    FILE* f = _wfopen(file, L"rb");
    if (f == nullptr) return false;
    std::string bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
    fclose(f);
    std::wstring text(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0),
                      L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        static_cast<int>(text.size()));
    std::wistringstream lines(text);
    std::wstring line;
    uint32_t id = firstId;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == L'#') continue;
        std::wistringstream fields(line);
        uint32_t kind = 0, pid = 0, tid = 0;
        if (!(fields >> kind >> pid >> tid)) {
            PrintError(L"bad scenario line: %ls\n", line.c_str());
            return false;
        }
        std::wstring rest;
        std::getline(fields, rest);
        const size_t bar = rest.find(L" | ");
        const std::wstring process = Trim(rest.substr(0, bar));
        const std::wstring module = bar == std::wstring::npos ? process : Trim(rest.substr(bar + 3));
        events->push_back(MakeEvent(id++, kind, pid, process, module, tid));
    }
    return true;
}

void PrintEntry(const JournalEntry& entry) {
    switch (entry.kind) {
    case JOURNAL_REPLY:
        if (entry.length == sizeof(AccessReply)) {
            const AccessReply reply = ReplyOf(entry);
            Print(L"reply event=%u allow=%u\n", reply.eventId, reply.allow);
        } else {
            Print(L"reply of %u bytes\n", entry.length);
        }
        break;
    case JOURNAL_ENABLE_GUARD: Print(L"enable-guard\n"); break;
    case JOURNAL_DISABLE_GUARD: Print(L"disable-guard\n"); break;
    case JOURNAL_REGISTER: {
        uint32_t status;
        std::memcpy(&status, entry.bytes, sizeof(status));
        Print(L"register status=0x%x\n", status);
        break;
    }
    default: Print(L"unknown entry %u\n", entry.kind);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    StandInDriverClient driver;
    if (!driver.ok()) {
        PrintError(L"cannot open the stand-in driver (error %lu)\n", GetLastError());
        return 1;
    }
    if (command == L"inject" && argc >= 5) {
        const std::wstring process = argv[4];
        const std::wstring module = argc >= 6 ? argv[5] : process;
        const uint32_t tid = argc >= 7 ? Number(argv[6]) : 0;
        const uint32_t id = argc >= 8 ? Number(argv[7]) : NextEventId(driver);
        if (!driver.Inject(MakeEvent(id, Number(argv[2]), Number(argv[3]), process, module, tid))) return 1;
        Print(L"injected event %u\n", id);
        return 0;
    }
    if (command == L"scenario" && argc >= 3) {
        std::vector<AccessEvent> events;
        if (!ReadScenario(argv[2], NextEventId(driver), &events)) return 1;
        if (!driver.Inject(events)) return 1;
        Print(L"injected %u events\n", static_cast<unsigned>(events.size()));
        return 0;
    }
    if (command == L"journal") {
        const size_t count = argc >= 3 ? Number(argv[2]) : 0;
        const DWORD timeout = argc >= 4 ? Number(argv[3]) : 10000;
        for (const JournalEntry& entry : count ? driver.WaitForJournal(count, timeout) : driver.ReadJournal())
            PrintEntry(entry);
        return 0;
    }
    if (command == L"status" && argc >= 3) return driver.SetRegisterStatus(Number(argv[2])) ? 0 : 1;
    if (command == L"state") {
        const StandInState s = driver.QueryState();
        Print(L"registrations=%u queued=%u delivered=%u journal=%u waiting=%u\n", s.registrations,
                     s.queuedEvents, s.deliveredEvents, s.journalEntries, s.waitingRequests);
        return 0;
    }
    if (command == L"reset") return driver.Reset() ? 0 : 1;
    return Usage();
}
