#include "app/Intake.h"

#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstring>

namespace {

bool MatchesMask(const char* name, const std::string& mask) {
    // The Windows masks: "*.*" matches names without a dot as well.
    if (mask == "*.*" || mask == "*") {
        return true;
    }
    return fnmatch(mask.c_str(), name, 0) == 0;
}

enum class EntryKind { Other, File, Folder };

EntryKind KindOf(const std::string& path, unsigned char type) {
    struct stat st;
    switch (type) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Folder;
        case DT_LNK:
            // A link counts for what it points to, but a linked folder is never entered.
            if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                return EntryKind::File;
            }
            return EntryKind::Other;
        case DT_UNKNOWN:
            if (lstat(path.c_str(), &st) != 0) {
                return EntryKind::Other;
            }
            if (S_ISDIR(st.st_mode)) {
                return EntryKind::Folder;
            }
            return KindOf(path, S_ISLNK(st.st_mode)   ? DT_LNK
                                : S_ISREG(st.st_mode) ? DT_REG
                                                      : DT_FIFO);
        default:
            return EntryKind::Other;
    }
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

// The entry of folder whose name matches name in either letter case, or an empty text.
std::string EntryIgnoringCase(const std::string& folder, const char* name) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    std::string found;
    while (const dirent* entry = readdir(dir)) {
        if (SameNameIgnoringCase(entry->d_name, name)) {
            found = folder + "/" + entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool HoldsVideoTsIfo(const std::string& videoTs) {
    struct stat st;
    const std::string ifo = EntryIgnoringCase(videoTs, "VIDEO_TS.IFO");
    return !ifo.empty() && stat(ifo.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool IsDvdFolder(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    if (SameNameIgnoringCase(FileNameOf(path).c_str(), "VIDEO_TS") && HoldsVideoTsIfo(path)) {
        return true;
    }
    const std::string videoTs = EntryIgnoringCase(path, "VIDEO_TS");
    return !videoTs.empty() && stat(videoTs.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           HoldsVideoTsIfo(videoTs);
}

bool FitsACommandLine(const std::string& path) {
    // A quote would end the quoted path early, and so would a backslash just before the
    // closing quote, which the tools read as an escaped quote.
    return path.find('"') == std::string::npos && (path.empty() || path.back() != '\\');
}

bool IsCompatibleFile(const std::string& path, bool lowerCaseExtension) {
    if (!FitsACommandLine(path)) {
        return false;
    }
    std::string extension = ExtensionOf(path);
    if (extension.empty()) {
        return false;
    }
    if (lowerCaseExtension) {
        for (char& c : extension) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    }
    return std::strstr(SupportedExtensions, extension.c_str()) != nullptr ||
           std::strstr(ModernContainerExtensions, extension.c_str()) != nullptr;
}

std::string RefusedFilesText(const std::vector<std::string>& refusedPaths) {
    constexpr size_t kNamesShown = 10;
    std::string text = "Some files were not added, they are not compatible with Quintaro.";
    if (refusedPaths.empty()) {
        return text;
    }
    text += "\n";
    for (size_t i = 0; i < refusedPaths.size() && i < kNamesShown; ++i) {
        std::string path = refusedPaths[i];
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();  // a folder named with its trailing "/"
        }
        text += "\n" + FileNameOf(path);
    }
    if (refusedPaths.size() > kNamesShown) {
        text += "\nand " + std::to_string(refusedPaths.size() - kNamesShown) + " more";
    }
    return text;
}

void CollectFiles(const std::string& folder, std::vector<std::string>& list,
                  const std::string& mask) {
    std::string base = folder;
    if (base.empty() || base.back() != '/') {
        base += '/';
    }
    DIR* dir = opendir(base.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> subfolders;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;  // hidden, and "." and ".."
        }
        std::string path = base + entry->d_name;
        switch (KindOf(path, entry->d_type)) {
            case EntryKind::File:
                if (MatchesMask(entry->d_name, mask)) {
                    list.push_back(std::move(path));
                }
                break;
            case EntryKind::Folder:
                subfolders.push_back(std::move(path));
                break;
            case EntryKind::Other:
                break;
        }
    }
    closedir(dir);
    for (const std::string& subfolder : subfolders) {
        CollectFiles(subfolder, list, mask);
    }
}
