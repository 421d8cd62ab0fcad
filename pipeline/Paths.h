#pragma once

// Paths as the program and its tools handle them: 8-bit text, "/" the only delimiter.

#include <string>

// The text after the last "/".
std::string FileNameOf(const std::string& path);
// The last component of a path; a folder given with a trailing "/" keeps its name.
std::string LastComponentOf(std::string path);
// The folder part of a path: "." when there is none, "/" for a file in the root.
std::string FolderOf(const std::string& path);
// The folder text with "/" appended unless it already ends with one.
std::string WithTrailingDelimiter(const std::string& folder);
// The file name's extension from its last "." on ("" when it has none).
std::string ExtensionOf(const std::string& path);
// The path without its file name's extension.
std::string WithoutExtension(const std::string& path);
