#pragma once

#include <string>
#include <vector>

#include "pipeline/Paths.h"

// The extensions the encoder takes, each with its dot. A file is accepted when its extension
// occurs anywhere in this text, so pieces such as ".mp" or ".rm" pass as well.
inline constexpr char SupportedExtensions[] =
    ".ogm.mkv.avi.mp4.avs.mpg.mpeg.rmvb.wmv.wav.mp3.ac3.aac.ogg.mpa";

// The containers of today's cameras, phones and the web, which the tools read as well; accepted
// by the same rule.
inline constexpr char ModernContainerExtensions[] = ".mov.m4v.webm.ts.m2ts.mts.3gp.flv.vob";

// Whether the tool command lines can carry the path inside their double quotes.
bool FitsACommandLine(const std::string& path);

// The extension test of every intake path. Chosen and directly dropped files are tested with
// the extension lower-cased, scanned files as found. A path the tool command lines cannot carry
// is refused.
bool IsCompatibleFile(const std::string& path, bool lowerCaseExtension);

// The box shown after an intake refused files: the fixed message, then the refused names, up to
// ten of them and "and N more".
std::string RefusedFilesText(const std::vector<std::string>& refusedPaths);

// Whether a folder holds a DVD-Video: it has a "VIDEO_TS" folder with "VIDEO_TS.IFO" in it, or is
// that "VIDEO_TS" folder itself (names in either letter case, as rips keep them).
bool IsDvdFolder(const std::string& folder);

// Appends the full path of every file in folder and all its subfolders whose name matches mask,
// depth first: a folder's own files, then each subfolder's, in the order the file system lists
// them. Hidden entries (name beginning with ".") are skipped, files and folders alike. Only
// regular files are collected (symlinks to them included); symlinked folders are not entered,
// so a link back up the tree cannot make the scan endless. "*.*" and "*" match every name.
void CollectFiles(const std::string& folder, std::vector<std::string>& list,
                  const std::string& mask);
