// Turns the kernel's device paths (\Device\HarddiskVolume1\...) into the
// drive-letter long paths that the user sees and the rights records are keyed by.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace quenvar {

// Size in wide characters of the buffers for a device target and a long path.
constexpr DWORD kDevicePathBufferSize = 1024;

// Where the translator learns the drives and their device targets. Production
// uses kWin32DriveTableSource; tests supply chosen drives.
struct DriveTableSource {
    DWORD(WINAPI* getLogicalDrives)();
    DWORD(WINAPI* queryDosDevice)(LPCWSTR deviceName, LPWSTR targetPath, DWORD maxChars);
};

// GetLogicalDrives and QueryDosDeviceW.
extern const DriveTableSource kWin32DriveTableSource;

// Device target (case-sensitive, ordered by UTF-16 code unit) -> drive name "C:".
using DeviceTable = std::map<std::wstring, std::wstring>;

// The first table entry, in ascending key order, whose target begins the path
// and ends at a path boundary; end() when none does.
DeviceTable::const_iterator FindDeviceEntry(const DeviceTable& deviceToDrive, const std::wstring& path);

// The prefix rewrite without long-path expansion: the first table entry, in
// ascending key order, whose target begins the path and ends at a path
// boundary gives its drive name followed by the rest of the path; otherwise a
// path starting with a backslash is put on windowsDrive; anything else is
// returned unchanged.
std::wstring RewriteDevicePrefix(const DeviceTable& deviceToDrive, const wchar_t* windowsDrive,
                                 const std::wstring& path);

// GetLongPathNameW into a 1024-character buffer; empty when that fails or the
// long form would not fit.
std::wstring LongFormOf(const std::wstring& path);

// ToDosPath looks long forms up through longFormFinder, which is LongFormOf
// unless a test counts the file-system walks.
using LongFormFinder = std::wstring (*)(const std::wstring& path);
extern LongFormFinder longFormFinder;

// The long form through longFormFinder; the path as given when there is none.
std::wstring ExpandLongPath(const std::wstring& path);

// Whether a path still names a file or folder: GetFileAttributesW, unless a
// test stands in.
bool PathStillNamesAFile(const std::wstring& path);
using PathPresence = bool (*)(const std::wstring& path);
extern PathPresence pathPresence;

// Drive-letter path -> its long form, as one process's events found them.
// A path without a long form is never kept: the file may come back.
using LongForms = std::map<std::wstring, std::wstring>;
// More than a process's own file and its modules: a table this full is
// started afresh rather than grown without end.
constexpr size_t kMaxLongForms = 64;

class DevicePathTranslator {
public:
    explicit DevicePathTranslator(const DriveTableSource& drives = kWin32DriveTableSource);
    virtual ~DevicePathTranslator() = default;
    DevicePathTranslator(const DevicePathTranslator&) = delete;
    DevicePathTranslator& operator=(const DevicePathTranslator&) = delete;

    // Rebuilds deviceToDrive when the set of logical drives differs from the
    // one it was built from.
    void Refresh();
    // Rebuilds deviceToDrive whatever the drives.
    void Rebuild();

    // The drive-letter long path of a kernel, rootless or drive-letter path. A
    // "\Device\" path that no entry matches (a volume mounted since the table
    // was built) rebuilds the table once and is tried again before it falls
    // back to the Windows drive.
    std::wstring ToDosPath(const std::wstring& kernelPath);
    // The same, taking the long form from remembered while that long form still
    // names a file, and remembering what it expands. A file renamed or removed
    // under a live process is no longer found there and is expanded afresh; a
    // new drive gives another drive-letter path and so another entry.
    std::wstring ToDosPath(const std::wstring& kernelPath, LongForms& remembered);

    DeviceTable deviceToDrive;
    uint32_t lastDriveMask;
    // Letter and colon of the Windows directory, zero-terminated.
    wchar_t windowsDrive[3];

private:
    // The kernel path with its device rewritten to a drive letter, not expanded.
    std::wstring DrivePath(const std::wstring& kernelPath);

    DriveTableSource drives;
};

}  // namespace quenvar
