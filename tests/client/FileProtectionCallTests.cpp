// IsFileProtectedBySystem against the export it loads from sfc.dll. Wine's
// SfcIsFileProtected keeps no protected-file list and always answers FALSE, so
// for these tests the start of the export is overwritten with a jump to a
// stand-in that knows one protected file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/ProcessRightsCache.h"

using namespace quenvar;

namespace {

constexpr const wchar_t* kProtectedFile = L"C:\\windows\\system32\\quenvar-protected.exe";

struct SfcCall {
    HANDLE rpcHandle;
    std::wstring fileName;
    const unsigned char* returnAddress;
};
std::vector<SfcCall> sfcCalls;

BOOL WINAPI StandInSfcIsFileProtected(HANDLE rpcHandle, LPCWSTR fileName) {
    sfcCalls.push_back({rpcHandle, fileName, static_cast<const unsigned char*>(__builtin_return_address(0))});
    return std::wcscmp(fileName, kProtectedFile) == 0 ? TRUE : FALSE;
}

// Replaces the first bytes of a function with "mov eax/rax, replacement;
// jmp eax/rax" (the accumulator is free at a call's entry in both calling
// conventions) and puts them back when it goes.
class JumpPatch {
public:
    JumpPatch(void* function, const void* replacement) : code(static_cast<unsigned char*>(function)) {
        const auto address = reinterpret_cast<uintptr_t>(replacement);
        std::vector<unsigned char> jump;
        if (sizeof address == 8) jump.push_back(0x48);  // REX.W: mov rax
        jump.push_back(0xB8);
        for (size_t i = 0; i < sizeof address; ++i) jump.push_back(static_cast<unsigned char>(address >> (8 * i)));
        jump.insert(jump.end(), {0xFF, 0xE0});
        saved.assign(code, code + jump.size());
        applied = Write(jump);
    }
    ~JumpPatch() {
        if (applied) Write(saved);
    }
    JumpPatch(const JumpPatch&) = delete;
    JumpPatch& operator=(const JumpPatch&) = delete;

    bool applied = false;

private:
    bool Write(const std::vector<unsigned char>& bytes) {
        DWORD old = 0;
        if (!VirtualProtect(code, bytes.size(), PAGE_EXECUTE_READWRITE, &old)) return false;
        std::memcpy(code, bytes.data(), bytes.size());
        VirtualProtect(code, bytes.size(), old, &old);
        FlushInstructionCache(GetCurrentProcess(), code, bytes.size());
        return true;
    }

    unsigned char* code;
    std::vector<unsigned char> saved;
};

class FileProtectionCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        sfc = LoadLibraryW(L"sfc.dll");
        ASSERT_NE(sfc, nullptr);
        void* export_ = reinterpret_cast<void*>(GetProcAddress(sfc, "SfcIsFileProtected"));
        ASSERT_NE(export_, nullptr);
        patch = std::make_unique<JumpPatch>(export_, reinterpret_cast<const void*>(StandInSfcIsFileProtected));
        ASSERT_TRUE(patch->applied);
        sfcCalls.clear();
    }
    void TearDown() override {
        patch.reset();
        if (sfc != nullptr) FreeLibrary(sfc);
    }

    HMODULE sfc = nullptr;
    std::unique_ptr<JumpPatch> patch;
};

TEST_F(FileProtectionCallTest, AsksSfcWithoutRpcHandleAndPassesItsAnswerOn) {
    EXPECT_TRUE(IsFileProtectedBySystem(kProtectedFile));
    EXPECT_FALSE(IsFileProtectedBySystem(L"C:\\Program Files\\Tool\\tool.exe"));
    ASSERT_EQ(sfcCalls.size(), 2u);
    EXPECT_EQ(sfcCalls[0].rpcHandle, nullptr);
    EXPECT_EQ(sfcCalls[0].fileName, kProtectedFile);
    EXPECT_EQ(sfcCalls[1].fileName, L"C:\\Program Files\\Tool\\tool.exe");
}

// SfcIsFileProtected is stdcall: it pops its two arguments itself (ret 8). A
// caller whose pointer type lacks WINAPI treats it as cdecl, and its stack
// pointer is then 8 bytes off for the rest of its frame; in this build the
// frame pointer hides that, so it shows in no result, only in the call's code. This
// compiler reserves the outgoing arguments once per frame, so after a stdcall
// call it takes back what the callee popped with "sub esp, 8"; after a cdecl
// call it does not. At 64 bits there is one calling convention.
TEST_F(FileProtectionCallTest, CallerTakesBackTheArgumentsTheStdcallExportPopped) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "one calling convention at 64 bits";
    IsFileProtectedBySystem(kProtectedFile);
    ASSERT_EQ(sfcCalls.size(), 1u);
    const unsigned char* next = sfcCalls[0].returnAddress;
    const unsigned char subEsp8[] = {0x83, 0xEC, 0x08};
    EXPECT_EQ(std::memcmp(next, subEsp8, sizeof subEsp8), 0)
        << "after the call: " << std::hex << int(next[0]) << ' ' << int(next[1]) << ' ' << int(next[2])
        << " (expected 83 ec 08: the pointer type must be BOOL(WINAPI*)(HANDLE, LPCWSTR))";
}

}  // namespace
