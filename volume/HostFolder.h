#pragma once
// Folders of the host and the files in them, by UTF-8 path: what a path names, the names in a
// folder, rename, remove, new folders, and making a folder's entries durable. The folder access
// to a recorder disk and the demo disk's scratch folder use these; the host's own calls sit in
// one implementation per platform.
//
//   if (hostEntry("/media/recorder/SONG0000.KRV").kind == HostEntryKind::folder) ...
//   auto names = hostFolderNames("/media/recorder");

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

enum class HostEntryKind {
    missing,       // nothing of that name
    accessDenied,  // the host refused to say
    unreachable,   // another failure: a file where a folder was expected, a name too long ...
    regular,
    folder,
    other,  // a device, pipe or socket
};

struct HostEntry {
    HostEntryKind kind = HostEntryKind::missing;
    bool exists() const {
        return kind == HostEntryKind::regular || kind == HostEntryKind::folder ||
               kind == HostEntryKind::other;
    }
};

HostEntry hostEntry(const std::string& path);

// A UTF-8 path as the standard library's path and back, without the host's narrow code page
// on the way (which on Windows is not UTF-8).
inline std::filesystem::path hostPathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// The names in a folder (without "." and ".."); nullopt when it cannot be listed, with
// `denied` (may be null) set when access was refused.
std::optional<std::vector<std::string>> hostFolderNames(const std::string& folder,
                                                        bool* denied = nullptr);

// Whether two existing paths name the same file.
bool sameHostFile(const std::string& a, const std::string& b);

// Renames; a file already holding the new name is replaced.
bool renameHostFile(const std::string& from, const std::string& to);
// Renames only when nothing holds the new name. nullopt when the host cannot refuse to replace
// on its own (the caller then checks first and renames).
std::optional<bool> renameHostFileKeepingTarget(const std::string& from, const std::string& to);

bool makeHostFolder(const std::string& path);
// Makes the folder's entries (new, renamed and removed names) durable; true where the host
// cannot sync a folder.
bool syncHostFolder(const std::string& path);

// A new private folder under the host's temporary folder; nullopt when none can be made.
std::optional<std::string> makeTemporaryFolder(const std::string& prefix);
// Removes a folder with everything in it, ignoring failures.
void removeHostTree(const std::string& path);

}  // namespace korvo
