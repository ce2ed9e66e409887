#include "volume/FolderDiskFiles.h"

#include <filesystem>
#include <vector>

#include "volume/FolderStream.h"
#include "volume/HostFolder.h"
#include "volume/HostVolume.h"

namespace korvo {

namespace {

// The components of a recorder path; nullopt for a path that could leave the root.
std::optional<std::vector<std::string>> splitPath(std::string_view path) {
    std::vector<std::string> components;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string_view::npos) {
            slash = path.size();
        }
        std::string_view component = path.substr(at, slash - at);
        if (component == "." || component == "..") {
            return std::nullopt;
        }
        if (!component.empty()) {
            components.emplace_back(component);
        }
        at = slash + 1;
    }
    return components;
}

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string joinHost(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// One component looked up in a host folder: the exact name when it exists, else the first
// entry whose name matches without regard to case.
struct ComponentMatch {
    FileExistence existence = FileExistence::missing;
    std::string name;
    bool isFolder = false;
};

ComponentMatch matchComponent(const std::string& folder, const std::string& name) {
    ComponentMatch match;
    const HostEntry exact = hostEntry(joinHost(folder, name));
    if (exact.exists()) {
        match.existence = FileExistence::present;
        match.name = name;
        match.isFolder = exact.kind == HostEntryKind::folder;
        return match;
    }
    if (exact.kind == HostEntryKind::accessDenied) {
        match.existence = FileExistence::accessDenied;
        return match;
    }
    if (exact.kind != HostEntryKind::missing) {
        return match;  // a file where a folder was expected, a name too long ...
    }
    bool denied = false;
    const auto names = hostFolderNames(folder, &denied);
    if (!names) {
        if (denied) {
            match.existence = FileExistence::accessDenied;
        }
        return match;
    }
    for (const std::string& found : *names) {
        if (sameNameIgnoringCase(found, name)) {
            const HostEntry entry = hostEntry(joinHost(folder, found));
            if (entry.exists()) {
                match.existence = FileExistence::present;
                match.name = found;
                match.isFolder = entry.kind == HostEntryKind::folder;
            } else if (entry.kind == HostEntryKind::accessDenied) {
                match.existence = FileExistence::accessDenied;
            }
            break;
        }
    }
    return match;
}

HostOpen hostOpenOf(OpenMode mode) {
    switch (mode) {
        case OpenMode::read:
            return HostOpen::read;
        case OpenMode::write:
            return HostOpen::create;
        case OpenMode::update:
            return HostOpen::readWrite;
    }
    return HostOpen::read;
}

}  // namespace

CFolderDiskFiles::CFolderDiskFiles(std::string rootPath, DiskOptions options)
    : rootPath_(std::move(rootPath)), options_(std::move(options)) {}

CFolderDiskFiles::Lookup CFolderDiskFiles::lookUp(std::string_view path) const {
    Lookup lookup;
    auto components = splitPath(path);
    if (!components || rootPath_.empty()) {
        return lookup;
    }
    lookup.hostPath = rootPath_;
    if (components->empty()) {
        const HostEntry root = hostEntry(rootPath_);
        if (root.exists()) {
            lookup.existence = FileExistence::present;
        } else if (root.kind == HostEntryKind::accessDenied) {
            lookup.existence = FileExistence::accessDenied;
        }
        return lookup;
    }
    for (std::size_t i = 0; i < components->size(); ++i) {
        ComponentMatch match = matchComponent(lookup.hostPath, (*components)[i]);
        if (match.existence != FileExistence::present) {
            lookup.existence = match.existence;
            return lookup;
        }
        if (i + 1 < components->size() && !match.isFolder) {
            return lookup;  // missing: a file cannot hold further names
        }
        lookup.hostPath = joinHost(lookup.hostPath, match.name);
        lookup.diskPath += (lookup.diskPath.empty() ? "" : "/") + match.name;
    }
    lookup.existence = FileExistence::present;
    return lookup;
}

std::optional<CFolderDiskFiles::Lookup> CFolderDiskFiles::placeFor(std::string_view path) const {
    auto components = splitPath(path);
    if (!components || components->empty()) {
        return std::nullopt;
    }
    const std::string name = components->back();
    std::string folderPath;
    for (std::size_t i = 0; i + 1 < components->size(); ++i) {
        folderPath += (i ? "/" : "") + (*components)[i];
    }
    Lookup folder = lookUp(folderPath);
    if (folder.existence != FileExistence::present) {
        return std::nullopt;
    }
    ComponentMatch match = matchComponent(folder.hostPath, name);
    if (match.existence == FileExistence::accessDenied) {
        return std::nullopt;
    }
    Lookup place;
    place.existence = match.existence;
    const std::string& stored = match.existence == FileExistence::present ? match.name : name;
    place.hostPath = joinHost(folder.hostPath, stored);
    place.diskPath = folder.diskPath.empty() ? stored : folder.diskPath + "/" + stored;
    return place;
}

FileExistence CFolderDiskFiles::exists(std::string_view path) {
    return lookUp(path).existence;
}

std::unique_ptr<IDiskStream> CFolderDiskFiles::open(std::string_view path, OpenMode mode) {
    std::string hostPath;
    if (mode == OpenMode::write) {
        auto place = placeFor(path);
        if (!place) {
            return nullptr;
        }
        hostPath = place->hostPath;
    } else {
        Lookup lookup = lookUp(path);
        if (lookup.existence != FileExistence::present) {
            return nullptr;
        }
        hostPath = lookup.hostPath;
    }
    auto file = CHostFile::open(hostPath, hostOpenOf(mode), HostFileKinds::regularOnly);
    if (!file) {
        return nullptr;
    }
    return std::make_unique<CFolderStream>(std::move(file));
}

bool CFolderDiskFiles::rename(std::string_view from, std::string_view to) {
    Lookup source = lookUp(from);
    if (source.existence != FileExistence::present || !splitPath(from) ||
        splitPath(from)->empty()) {
        return false;
    }
    auto target = placeFor(to);
    if (!target) {
        return false;
    }
    if (target->existence == FileExistence::present) {
        // Another file already has the name; only a change of case of the file itself passes.
        if (!sameHostFile(source.hostPath, target->hostPath)) {
            return false;
        }
        return renameHostFile(source.hostPath, target->hostPath);
    }
    if (const auto renamed = renameHostFileKeepingTarget(source.hostPath, target->hostPath)) {
        return *renamed;
    }
    // The host cannot refuse to replace on its own; the name was found free above.
    return renameHostFile(source.hostPath, target->hostPath);
}

bool CFolderDiskFiles::remove(std::string_view path) {
    Lookup lookup = lookUp(path);
    if (lookup.existence != FileExistence::present || lookup.diskPath.empty()) {
        return false;
    }
    return removeHostFile(lookup.hostPath);
}

bool CFolderDiskFiles::syncFolder(std::string_view path) {
    const Lookup lookup = lookUp(path);
    if (lookup.existence != FileExistence::present) {
        return false;
    }
    return syncHostFolder(lookup.hostPath);
}

bool CFolderDiskFiles::makeFolder(std::string_view path) {
    const Lookup existing = lookUp(path);
    if (existing.existence == FileExistence::present) {
        return hostEntry(existing.hostPath).kind == HostEntryKind::folder;
    }
    const auto place = placeFor(path);
    return place && makeHostFolder(place->hostPath);
}

std::optional<std::vector<std::string>> CFolderDiskFiles::listFiles(std::string_view folder) {
    const Lookup found = lookUp(folder);
    if (found.existence != FileExistence::present) {
        return std::nullopt;
    }
    const auto entries = hostFolderNames(found.hostPath);
    if (!entries) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const std::string& name : *entries) {
        if (hostEntry(joinHost(found.hostPath, name)).kind == HostEntryKind::regular) {
            names.push_back(name);
        }
    }
    return names;
}

std::optional<std::uint64_t> CFolderDiskFiles::freeBytes() {
    return hostFreeBytes(rootPath_);
}

bool CFolderDiskFiles::locateVolume(std::string& device, std::string& folderOnVolume,
                                    std::string& reason) const {
    namespace fs = std::filesystem;
    folderOnVolume.clear();
    std::optional<MountedVolume> mounted = findMountedVolume(rootPath_);
    std::error_code error;
    auto onVolume = [&](const MountedVolume& volume) {
        fs::path canonical = fs::weakly_canonical(hostPathOf(rootPath_), error);
        if (error) {
            return false;
        }
        fs::path relative = canonical.lexically_relative(hostPathOf(volume.mountPoint));
        std::string text = utf8Of(relative);
        if (relative.empty() || text.rfind("..", 0) == 0) {
            return false;
        }
        folderOnVolume = text == "." ? std::string() : text;
        return true;
    };
    if (!options_.device.empty()) {
        device = options_.device;
        // A folder on a mount of that very device lies somewhere on the volume; any other
        // folder (a copy of the disk's files, a mount by a user-space driver) is taken as the
        // volume's root.
        if (mounted &&
            (mounted->device == device || fs::equivalent(hostPathOf(mounted->device), hostPathOf(device), error))) {
            if (!onVolume(*mounted)) {
                folderOnVolume.clear();
            }
        }
        return true;
    }
    if (!mounted) {
        reason = "cannot find the volume behind " + rootPath_ + " in the mount table";
        return false;
    }
    device = mounted->device;
    if (!onVolume(*mounted)) {
        reason = "cannot place " + rootPath_ + " on the volume mounted at " + mounted->mountPoint;
        return false;
    }
    return true;
}

bool CFolderDiskFiles::checkVolume(std::string& reason) {
    std::string device;
    std::string folderOnVolume;
    if (!locateVolume(device, folderOnVolume, reason)) {
        return false;
    }
    return checkVolumeDevice(device, options_.partition, reason);
}

bool CFolderDiskFiles::clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) {
    chain.clear();
    Lookup lookup = lookUp(path);
    if (lookup.existence != FileExistence::present || lookup.diskPath.empty()) {
        return false;
    }
    std::string device;
    std::string folderOnVolume;
    std::string reason;
    if (!locateVolume(device, folderOnVolume, reason)) {
        return false;
    }
    // The file's clusters and directory entry must be on the device before it is read raw.
    auto file = CHostFile::open(lookup.hostPath, HostOpen::readWrite, HostFileKinds::regularOnly);
    if (!file) {
        file = CHostFile::open(lookup.hostPath, HostOpen::read, HostFileKinds::regularOnly);
    }
    if (file) {
        file->sync();
    }
    std::string volumePath =
        folderOnVolume.empty() ? lookup.diskPath : folderOnVolume + "/" + lookup.diskPath;
    return clusterChainOnDevice(device, options_.partition, volumePath, chain, nullptr);
}

}  // namespace korvo
