#include <windows.h>

#include <filesystem>

#include "volume/HostFolder.h"
#include "wavefile/win32/WideText.h"

namespace korvo {

namespace {

std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(win32::wideOf(utf8));
}

}  // namespace

HostEntry hostEntry(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win32::wideOf(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return {error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                        error == ERROR_INVALID_NAME || error == ERROR_INVALID_DRIVE
                    ? HostEntryKind::missing
                : error == ERROR_ACCESS_DENIED ? HostEntryKind::accessDenied
                                               : HostEntryKind::unreachable};
    }
    return {(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? HostEntryKind::folder
                                                                    : HostEntryKind::regular};
}

std::optional<std::vector<std::string>> hostFolderNames(const std::string& folder, bool* denied) {
    if (denied) {
        *denied = false;
    }
    std::wstring pattern = win32::wideOf(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return std::vector<std::string>{};  // an empty drive root has not even "."
        }
        if (denied) {
            *denied = error == ERROR_ACCESS_DENIED;
        }
        return std::nullopt;
    }
    std::vector<std::string> names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(win32::utf8Of(name));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool sameHostFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(pathOf(a), pathOf(b), error) && !error;
}

bool renameHostFile(const std::string& from, const std::string& to) {
    return MoveFileExW(win32::wideOf(from).c_str(), win32::wideOf(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<bool> renameHostFileKeepingTarget(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the host refuses a name that is taken.
    return MoveFileExW(win32::wideOf(from).c_str(), win32::wideOf(to).c_str(),
                       MOVEFILE_WRITE_THROUGH) != 0;
}

bool makeHostFolder(const std::string& path) {
    return CreateDirectoryW(win32::wideOf(path).c_str(), nullptr) != 0;
}

bool syncHostFolder(const std::string& path) {
    // Folder entries are written through by the host's file system; there is nothing to sync,
    // only the folder's existence to confirm.
    return hostEntry(path).kind == HostEntryKind::folder;
}

std::optional<std::string> makeTemporaryFolder(const std::string& prefix) {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        return std::nullopt;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = win32::utf8Of(base) + prefix +
                                   std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(GetTickCount() + attempt);
        if (makeHostFolder(folder)) {
            return folder;
        }
    }
    return std::nullopt;
}

void removeHostTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(pathOf(path), ignored);
}

}  // namespace korvo
