// Vets the keyboard class's filter drivers: every driver in "UpperFilters" that
// the user has not accepted before is asked about; denied drivers are removed,
// and the remaining list is stored as the machine-bound known list.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/UniqueResource.h"

namespace quenvar {

// Shows a question and returns the answer (IDYES, IDNO, ...). The service shows
// it on the interactive desktop; a test shows it where it can answer it.
using AskUser = int (*)(const wchar_t* text, const wchar_t* caption, UINT style);

// MessageBoxW with no owner, as the service shows its questions.
int AskOnInteractiveDesktop(const wchar_t* text, const wchar_t* caption, UINT style);

class FilterVetter {
public:
    enum class PassOutcome {
        kVetted,      // the lists were compared and written back
        kNoFilters,   // the class key has no "UpperFilters": nothing vetted or written
        kNoClassKey,  // the keyboard class key cannot be opened
    };

    explicit FilterVetter(AskUser ask);

    // Reads "DigitalProductId" once; empty when it cannot be read. False only
    // when its buffer cannot be allocated (then no vetting takes place).
    bool ReadMachineIdentity();
    const std::vector<uint8_t>& machineId() const { return machineIdBytes; }

    // One pass: read, verify, compare, ask, write back, and the restart offer
    // on the first pass. Keeps the keys open for WaitForNextChange.
    PassOutcome RunPass();
    // Blocks until the keyboard class key (or, without it, its parent) changes,
    // then closes the pass's keys. Never spins.
    void WaitForNextChange(PassOutcome outcome);
    // Closes the keys a pass left open.
    void EndPass();

    [[noreturn]] void Run();

private:
    AskUser ask;
    std::vector<uint8_t> machineIdBytes;
    bool firstPass = true;
    UniqueRegKey classKey;
    UniqueRegKey productKey;
};

// Thread entry for the running service.
DWORD WINAPI FilterVetterThread(LPVOID unused);

extern const wchar_t* const kKeyboardClassKey;
extern const wchar_t* const kProductKey;

}  // namespace quenvar
