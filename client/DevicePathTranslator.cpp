#include "client/DevicePathTranslator.h"

#include <cwchar>

namespace quenvar {

const DriveTableSource kWin32DriveTableSource = {GetLogicalDrives, QueryDosDeviceW};

namespace {

constexpr const wchar_t* kDevicePrefix = L"\\Device\\";

// How much of the path the entry's target replaces. A target that ends in a
// backslash is a drive's root: the drive name takes the place of everything
// before that backslash.
size_t ConsumedBy(const std::wstring& target) { return target.back() == L'\\' ? target.size() - 1 : target.size(); }

}  // namespace

DeviceTable::const_iterator FindDeviceEntry(const DeviceTable& deviceToDrive, const std::wstring& path) {
    for (auto entry = deviceToDrive.begin(); entry != deviceToDrive.end(); ++entry) {
        const std::wstring& target = entry->first;
        if (target.empty() || path.size() < target.size()) continue;
        if (path.compare(0, target.size(), target) != 0) continue;
        // The target must end where a path component ends: otherwise
        // \Device\HarddiskVolume1 would claim \Device\HarddiskVolume10\x.exe
        // and turn it into C:0\x.exe, a file that does not exist.
        const size_t consumed = ConsumedBy(target);
        if (path.size() > consumed && path[consumed] != L'\\') continue;
        return entry;
    }
    return deviceToDrive.end();
}

std::wstring RewriteDevicePrefix(const DeviceTable& deviceToDrive, const wchar_t* windowsDrive,
                                 const std::wstring& path) {
    const auto entry = FindDeviceEntry(deviceToDrive, path);
    if (entry != deviceToDrive.end()) return entry->second + path.substr(ConsumedBy(entry->first));
    if (!path.empty() && path[0] == L'\\') return std::wstring(windowsDrive) + path;
    return path;
}

std::wstring LongFormOf(const std::wstring& path) {
    wchar_t buffer[kDevicePathBufferSize];
    const DWORD length = GetLongPathNameW(path.c_str(), buffer, kDevicePathBufferSize);
    if (length == 0 || length >= kDevicePathBufferSize) return std::wstring();
    return std::wstring(buffer);
}

LongFormFinder longFormFinder = LongFormOf;

std::wstring ExpandLongPath(const std::wstring& path) {
    // A file that has gone, or a long form that does not fit: the caller still
    // needs a drive-letter path, and the unexpanded one is the best there is.
    std::wstring longForm = longFormFinder(path);
    return longForm.empty() ? path : longForm;
}

bool PathStillNamesAFile(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

PathPresence pathPresence = PathStillNamesAFile;

DevicePathTranslator::DevicePathTranslator(const DriveTableSource& drives)
    : lastDriveMask(0), windowsDrive{0, 0, 0}, drives(drives) {
    Refresh();
    wchar_t directory[kDevicePathBufferSize];
    const UINT length = GetWindowsDirectoryW(directory, kDevicePathBufferSize);
    if (length >= 2 && length < kDevicePathBufferSize) {
        windowsDrive[0] = directory[0];
        windowsDrive[1] = directory[1];
    }
}

void DevicePathTranslator::Refresh() {
    if (drives.getLogicalDrives() == lastDriveMask) return;
    Rebuild();
}

void DevicePathTranslator::Rebuild() {
    const uint32_t mask = drives.getLogicalDrives();
    deviceToDrive.clear();
    for (unsigned bit = 0; bit < 32; ++bit) {
        if ((mask & (1u << bit)) == 0) continue;
        const wchar_t name[3] = {wchar_t(L'A' + bit), L':', 0};
        wchar_t target[kDevicePathBufferSize];
        const DWORD stored = drives.queryDosDevice(name, target, kDevicePathBufferSize);
        // A drive whose target cannot be learned gets no entry; an empty
        // target would begin every path.
        if (stored == 0 || stored > kDevicePathBufferSize) continue;
        // Of a multi-string answer only the first string counts.
        const size_t length = wcsnlen(target, stored);
        if (length == 0) continue;
        deviceToDrive[std::wstring(target, length)] = name;
    }
    lastDriveMask = mask;
}

std::wstring DevicePathTranslator::ToDosPath(const std::wstring& kernelPath) {
    return ExpandLongPath(DrivePath(kernelPath));
}

std::wstring DevicePathTranslator::ToDosPath(const std::wstring& kernelPath, LongForms& remembered) {
    const std::wstring drivePath = DrivePath(kernelPath);
    // One look at the file's attributes instead of a search of every folder
    // on the way. A long form that has gone (the file renamed or removed) is
    // not trusted: the path is expanded as if it had never been seen.
    const auto found = remembered.find(drivePath);
    if (found != remembered.end()) {
        if (pathPresence(found->second)) return found->second;
        remembered.erase(found);
    }
    const std::wstring longForm = longFormFinder(drivePath);
    if (longForm.empty()) return drivePath;
    if (remembered.size() >= kMaxLongForms) remembered.clear();
    return remembered[drivePath] = longForm;
}

std::wstring DevicePathTranslator::DrivePath(const std::wstring& kernelPath) {
    // Otherwise every program on a new volume would become a missing file on
    // the Windows drive and share the fingerprint of empty input.
    if (kernelPath.compare(0, wcslen(kDevicePrefix), kDevicePrefix) == 0 &&
        FindDeviceEntry(deviceToDrive, kernelPath) == deviceToDrive.end())
        Rebuild();
    return RewriteDevicePrefix(deviceToDrive, windowsDrive, kernelPath);
}

}  // namespace quenvar
