#include "client/EventJudge.h"

#include <memory>
#include <string>

#include "client/AccessPrompt.h"
#include "client/DebugTrace.h"
#include "client/DevicePathTranslator.h"
#include "client/LogSink.h"
#include "client/PathField.h"
#include "client/ProcessRightsCache.h"
#include "client/RightsStore.h"

namespace quenvar {

wchar_t breachLogPrefix[3][kBreachLogPrefixLength];

namespace {

constexpr const wchar_t* kPromptUnavailable =
    L"The access prompt could not be shown: accesses are denied without asking, and nothing is remembered.";

// Written once per run: every later event would only repeat it.
bool promptUnavailableLogged = false;

// Asks the user about one program and remembers the answer; true when denied.
bool AskAndRemember(ProcessRightsCache& cache, ProgramRights& rights, AccessEvent& event, const std::wstring& path,
                    bool forModule, uint32_t bit) {
    // The record keeps its cut copy for the peer; the prompt shows and
    // identifies the whole path, the one the answer is stored under. A path
    // cut at the field's end could name another file ("notepad.exeX.exe").
    StorePathField(forModule ? event.modulePath : event.processPath, path);
    auto prompt = std::make_unique<AccessPrompt>(event.breachKind, path);
    if (prompt->window == nullptr) {
        // Nobody was asked: this event is denied, and no answer is stored
        // that the user never gave.
        if (!promptUnavailableLogged) LogLine(kPromptUnavailable);
        promptUnavailableLogged = true;
        return true;
    }
    prompt->Show();
    prompt->PumpWhileOpen();
    // A prompt ended any other way than by its buttons (a quit message, the
    // program ending) denies this event alone and stores nothing.
    if (!prompt->answered) return true;
    const bool allowed = prompt->allowed;
    if (allowed) {
        rights.allowedMask |= bit;
        rights.deniedMask &= ~bit;
    } else {
        rights.deniedMask |= bit;
        rights.allowedMask &= ~bit;
    }
    cache.Save(rights, path);
    return !allowed;
}

// Judges one program file for the event's kind; true when the access is denied.
bool Judge(ProcessRightsCache& cache, AccessEvent& event, const std::wstring& path, bool forModule) {
    const uint32_t bit = KindBit(event.breachKind);
    ProgramRights& rights = cache.RightsFor(path);
    if (rights.deniedMask & bit) {
        LogLine(L"%ls '%ls'", KindText(event.breachKind), path.c_str());
        return true;
    }
    if (rights.allowedMask & bit) return false;
    return AskAndRemember(cache, rights, event, path, forModule, bit);
}

}  // namespace

const wchar_t* KindText(uint32_t breachKind) { return breachKind < 3 ? breachLogPrefix[breachKind] : L"unknown"; }

uint32_t KindBit(uint32_t breachKind) { return 1u << (breachKind % 32); }

AccessReply JudgeEvent(AccessEvent& event, DevicePathTranslator& translator) {
    AccessReply reply = {event.eventId, 0};
    const std::wstring processKernelPath = PathField(event.processPath);
    const std::wstring moduleKernelPath = PathField(event.modulePath);
    ProcessRightsCache* cache = TheRightsStore().ForProcess(event.processId);
    // A process's files keep their long forms while it runs: the cache holds
    // them so that a remembered decision does not search every folder again.
    const auto translate = [&](const std::wstring& kernelPath) {
        return cache != nullptr ? translator.ToDosPath(kernelPath, cache->longForms) : translator.ToDosPath(kernelPath);
    };
    const std::wstring processPath = translate(processKernelPath);
    // Most events name the process's own file as the module. Translating it
    // again would repeat the same walk of the file system a moment later and
    // give the same path; a change between the two walks could as well have
    // come just after them.
    const std::wstring modulePath = moduleKernelPath == processKernelPath ? processPath : translate(moduleKernelPath);
    DebugTrace(L"Breach %d in process %ls, module %ls (process_id = 0x%x, thread_id = 0x%x)\n",
               static_cast<int>(event.breachKind), processPath.c_str(), modulePath.c_str(), event.processId,
               event.threadId);
    const bool moduleDiffers = processPath != modulePath;
    // Without the store's lock nothing can be looked up or remembered: denied.
    if (cache == nullptr) return reply;
    bool denied = Judge(*cache, event, processPath, false);
    // The module of a denied process is not judged at all.
    if (moduleDiffers && !denied) denied = Judge(*cache, event, modulePath, true);
    reply.allow = denied ? 0 : 1;
    return reply;
}

}  // namespace quenvar
