#include "pipeline/Paths.h"

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LastComponentOf(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return FileNameOf(path);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string WithTrailingDelimiter(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') {
        return folder;
    }
    return folder + "/";
}

std::string ExtensionOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string WithoutExtension(const std::string& path) {
    return path.substr(0, path.size() - ExtensionOf(path).size());
}
