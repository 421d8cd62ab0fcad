#include "pipeline/BatchRun.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>

#include "pipeline/AnalysisOutput.h"
#include "pipeline/CommandLines.h"
#include "pipeline/FailureReason.h"

namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// True when both paths name one existing file, through links too.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat infoA, infoB;
    return stat(a.c_str(), &infoA) == 0 && stat(b.c_str(), &infoB) == 0 &&
           infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

// 0 or the errno. Where the file system cannot refuse to replace, a hard link does the same;
// only where neither exists is there a moment between the look and the rename.
int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) {
        return EEXIST;
    }
    if (Exists(to)) {
        return EEXIST;
    }
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool MakeFolders(const std::string& folder) {
    if (IsFolder(folder)) {
        return true;
    }
    const size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
        return false;
    }
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

enum class Outcome { Succeeded, NextJob, EndRun };

class BatchRun {
  public:
    BatchRun(BatchHost& host, std::string workFolder)
        : host_(host), workFolder_(std::move(workFolder)) {}

    RunSummary Run() {
        while (true) {
            const int row = FirstReadyRow();
            if (row < 0) {
                summary_.queueFinished = true;
                return summary_;
            }
            if (RunJob(row) == Outcome::EndRun) {
                return summary_;
            }
        }
    }

  private:
    int FirstReadyRow() const {
        for (int row = 1; row < host_.QueueRowCount(); ++row) {
            if (host_.RowStatus(row) == JobStatus::Ready) {
                return row;
            }
        }
        return -1;
    }

    // Outcomes go to whatever rows are "encoding" now: the user may have moved or reset the entry.
    void SetEncodingRows(const std::string& status) {
        for (int row = 1; row < host_.QueueRowCount(); ++row) {
            if (host_.RowStatus(row) == JobStatus::Encoding) {
                host_.SetRowStatus(row, status);
            }
        }
    }

    Outcome Judge(int result, bool analysisPass, const std::string& commandLine,
                  const ToolRunDetails& details) {
        if (result == 0) {
            host_.LogAppend("done.");
            return Outcome::Succeeded;
        }
        host_.LogAppend("error #" + std::to_string(result));
        const bool corrupt = analysisPass && result == -2 && !details.stopped;
        if (corrupt) {
            host_.LogLine(">> Errors in source. File is corrupt.");
        }
        const std::string why = FailureReason(commandLine, result, details, host_.LastToolOutput(),
                                              {workFolder_, outputFolder_}, corrupt);
        if (!why.empty()) {
            host_.LogLine(">> " + why);
        }
        if (host_.StopRequested()) {
            SetEncodingRows(JobStatus::Ready);
            return Outcome::EndRun;
        }
        SetEncodingRows(JobStatus::Error);
        ++summary_.failed;
        return Outcome::NextJob;
    }

    Outcome FailJob(const std::string& why) {
        host_.LogLine(">> " + why);
        SetEncodingRows(JobStatus::Error);
        ++summary_.failed;
        return Outcome::NextJob;
    }

    Outcome Stage(const std::string& caption, const std::string& commandLine,
                  bool analysisPass = false) {
        host_.LogLine(caption);
        ToolRunDetails details;
        const int result = host_.RunStage(commandLine, details);
        lastDetails_ = details;
        return Judge(result, analysisPass, commandLine, details);
    }

    // Compared as files too: the output folder may be typed differently or reached through a link.
    template <typename Paths>
    static bool NamesAnyOf(const std::string& path, const Paths& paths) {
        for (const std::string& other : paths) {
            if (other == path || SameFile(other, path)) {
                return true;
            }
        }
        return false;
    }

    // Why path cannot be this job's output, said as the log says it, or nothing when it can.
    // The output never replaces a file: not what an earlier job of the run wrote, not a source
    // that waits to be encoded, not anything else that is there, nor a ".part" that is not ours.
    std::optional<std::string> Conflict(const std::string& path,
                                        const std::vector<std::string>& queued) const {
        const std::string name = FileNameOf(path);
        if (NamesAnyOf(path, written_)) {
            return name + " was written earlier in this run";
        }
        if (NamesAnyOf(path, queued)) {
            return name + " is queued as a source";
        }
        if (Exists(path)) {
            return name + " already exists";
        }
        const std::string part = PartPath(path);
        if (Exists(part) && !NamesAnyOf(part, CleanupList)) {
            return FileNameOf(part) + " already exists";
        }
        return std::nullopt;
    }

    // The output path itself when it is free, else "name (2).mp4", "name (3).mp4", ...
    std::string UnclaimedOutputPath(const std::string& outputPath,
                                    const std::vector<std::string>& queued,
                                    const std::string& extension, int firstNumber = 2) {
        const std::optional<std::string> why = Conflict(outputPath, queued);
        if (!why) {
            return outputPath;
        }
        const std::string base =
            numberedBase_.empty() ? WithoutExtension(outputPath) : numberedBase_;
        for (int number = firstNumber;; ++number) {
            const std::string candidate = base + " (" + std::to_string(number) + ")" + extension;
            if (!Conflict(candidate, queued)) {
                host_.LogLine("> " + *why + "; writing " + FileNameOf(candidate) + " instead.");
                numberedBase_ = base;
                nextNumber_ = number + 1;
                return candidate;
            }
        }
    }

    static std::string PartPath(const std::string& outputPath) { return outputPath + ".part"; }

    // Gives the finished ".part" its final name, which must not have been taken meanwhile.
    // Returns the name it got, or nothing (with the reason in `why`).
    std::optional<std::string> Publish(const std::string& part, std::string outputPath,
                                       const std::vector<std::string>& queued,
                                       const std::string& extension, std::string& why) {
        for (int tries = 0; tries < 100; ++tries) {
            const int error = RenameWithoutReplacing(part, outputPath);
            if (error == 0) {
                return outputPath;
            }
            if (error != EEXIST) {
                why = "Cannot rename " + FileNameOf(part) + " to " + FileNameOf(outputPath) + ": " +
                      std::strerror(error);
                return std::nullopt;
            }
            outputPath = UnclaimedOutputPath(outputPath, queued, extension, nextNumber_);
        }
        why = "No free name for " + FileNameOf(outputPath);
        return std::nullopt;
    }

    Outcome RunJob(int row) {
        const std::vector<std::string> paths = host_.QueuedPathList();
        if (row - 1 >= static_cast<int>(paths.size())) {
            return Outcome::EndRun;
        }
        const std::string source = paths[static_cast<size_t>(row - 1)];
        const bool isDvd = IsFolder(source);
        host_.LogLine((isDvd ? "Encoding DVD: " : "Encoding: ") + LastComponentOf(source));

        const EncodeSettings settings = host_.CurrentSettings();
        outputFolder_ = WithTrailingDelimiter(settings.OutputFolder);
        const std::string& outputFolder = outputFolder_;
        std::string outputPath = OutputPath(outputFolder, source, isDvd, settings.OutputFormat);
        host_.SetRowStatus(row, JobStatus::Encoding);
        numberedBase_.clear();
        nextNumber_ = 2;

        // The tools would read the quote as the end of the path and write elsewhere.
        if (outputPath.find('"') != std::string::npos) {
            return FailJob(
                "The output folder holds a double quote, which the tools cannot be "
                "given; choose another output folder.");
        }
        if (!isDvd && SameFile(outputPath, source)) {
            return FailJob("The output " + FileNameOf(outputPath) +
                           " is the source file itself; choose another output folder or format.");
        }
        const std::string extension = OutputExtension(settings.OutputFormat);
        outputPath = UnclaimedOutputPath(outputPath, paths, extension);
        // The last merge writes beside the output and the name is given only to a complete file.
        const std::string part = PartPath(outputPath);

        const JobCommands job =
            BuildJobCommands(host_.AppDir(), workFolder_, source, isDvd, settings, part);
        for (const char* name : {"video.264", "audio.wav", "audio.mp4"}) {
            CleanupList.push_back(workFolder_ + name);
        }
        const bool mkvOutput = !job.MkvMerge.empty();
        if (mkvOutput) {
            CleanupList.push_back(workFolder_ + "tempout.mp4");
        }
        // The encoder keeps its two-pass statistics beside the stream; while it writes them they
        // are ".temp" files, which stay when the pass is stopped.
        for (const char* name : {"divx2pass.log", "divx2pass.log.mbtree", "divx2pass.log.temp",
                                 "divx2pass.log.mbtree.temp"}) {
            CleanupList.push_back(workFolder_ + name);
        }
        CleanupList.push_back(part);

        if (job.IsOgm) {
            host_.LogLine("> Converting to Matroska...");
            ToolRunDetails ignored;
            host_.RunStage(job.MatroskaConversion, ignored);
            host_.LogAppend("done!");
            CleanupList.push_back(workFolder_ + "source.mkv");
        }

        Outcome outcome = Stage("> Running video analysis...", job.AnalysisPass, true);
        if (outcome != Outcome::Succeeded) {
            return outcome;
        }
        host_.DeleteFile(workFolder_ + "video.264");
        const std::vector<std::string>& analysis = host_.LastToolOutput();
        const bool hasAudio = HasAudio(analysis);
        const std::optional<std::string> frameRate = FrameRate(analysis, lastDetails_.unfinished);
        if (!frameRate) {
            return FailJob("No frame rate in the video analysis output.");
        }

        if ((outcome = Stage("> Running video encoding...", job.EncodingPass)) !=
            Outcome::Succeeded) {
            return outcome;
        }
        if (hasAudio) {
            if ((outcome = Stage("> Running audio extracting...", job.AudioExtraction)) !=
                Outcome::Succeeded) {
                return outcome;
            }
            if ((outcome = Stage("> Running audio encoding...", job.AudioEncoding)) !=
                Outcome::Succeeded) {
                return outcome;
            }
        }

        std::string merge = ReplaceFps(job.Mp4Merge, *frameRate);
        if (hasAudio) {
            merge = AppendAudioPiece(merge, workFolder_);
        }
        const char* mergeCaption =
            mkvOutput
                ? (hasAudio ? "> Merging audio and video to temporary MP4..."
                            : "> Merging video to temporary MP4...")
                : (hasAudio ? "> Merging audio and video to MP4..." : "> Merging video to MP4...");
        if ((outcome = Stage(mergeCaption, merge)) != Outcome::Succeeded) {
            return outcome;
        }
        if (mkvOutput && (outcome = Stage("> Merging temporary MP4 to final MKV...",
                                          job.MkvMerge)) != Outcome::Succeeded) {
            return outcome;
        }

        std::string why;
        const std::optional<std::string> published =
            Publish(part, outputPath, paths, extension, why);
        if (!published) {
            return FailJob(why);
        }
        // Earlier failed jobs of the run left their files too; they go now.
        for (const std::string& file : CleanupList) {
            host_.DeleteFile(file);
        }
        written_.insert(*published);
        host_.LogLine("> Finished!");
        SetEncodingRows(JobStatus::Done);
        ++summary_.done;
        return Outcome::Succeeded;
    }

    BatchHost& host_;
    const std::string workFolder_;
    std::string outputFolder_;  // the current job's
    std::vector<std::string> CleanupList;
    ToolRunDetails lastDetails_;
    // Where the current job's numbering stands, so that a name taken meanwhile moves on.
    std::string numberedBase_;
    int nextNumber_ = 2;
    std::set<std::string> written_;
    RunSummary summary_;
};

}  // namespace

void BatchHost::DeleteFile(const std::string& path) {
    unlink(path.c_str());
}

std::string WorkFolderPath() {
    const std::string temp = EnvironmentValue("TEMP");
    if (!temp.empty()) {
        return temp + "/tarnok/";
    }
    std::string cache = EnvironmentValue("XDG_CACHE_HOME");
    if (cache.empty()) {
        cache = EnvironmentValue("HOME") + "/.cache";
    }
    return cache + "/tarnok/";
}

std::string PrepareWorkFolder(const std::string& workFolder) {
    std::string folder = workFolder;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    const std::string quoted = "\"" + folder + "\"";
    // Its stream file goes to the tools unquoted, and the other files in quotes; mplayer reads a
    // comma in its WAV file's name as the end of its audio output's name.
    if (folder.find_first_of(" \t\",") != std::string::npos) {
        return "The work folder " + quoted +
               " holds a blank, a comma or a double quote, which the tools cannot be given; set "
               "TEMP to another folder.";
    }
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0) {
        // Only the scratch folder itself is made under TEMP; the cache folder may not exist yet.
        const size_t slash = folder.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : folder.substr(0, slash);
        if (EnvironmentValue("TEMP").empty() && !parent.empty() && !MakeFolders(parent)) {
            return "Cannot create the work folder " + quoted + ". " + std::strerror(errno);
        }
        if (mkdir(folder.c_str(), 0700) != 0) {
            return "Cannot create the work folder " + quoted + ". " + std::strerror(errno);
        }
        if (lstat(folder.c_str(), &info) != 0) {
            return "Cannot create the work folder " + quoted + ". " + std::strerror(errno);
        }
    }
    if (S_ISLNK(info.st_mode)) {
        return "The work folder " + quoted + " is a symbolic link and is not used.";
    }
    if (!S_ISDIR(info.st_mode)) {
        return "The work folder " + quoted + " is not a folder.";
    }
    if (info.st_uid != geteuid()) {
        return "The work folder " + quoted + " belongs to another user and is not used.";
    }
    if ((info.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
        return "The work folder " + quoted + " cannot be made private. " + std::strerror(errno);
    }
    return {};
}

WorkFolderLock::~WorkFolderLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string WorkFolderLock::Take(const std::string& workFolder) {
    const std::string path = workFolder + "run.lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return "Cannot lock the work folder \"" + workFolder + "\". " + std::strerror(errno);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            return "Another Quintaro run is using the work folder \"" + workFolder +
                   "\"; start again when it has ended.";
        }
        return "Cannot lock the work folder \"" + workFolder + "\". " + std::strerror(error);
    }
    fd_ = fd;
    return {};
}

bool OutputFolderWritable(const std::string& outputFolder) {
    // A "temp.dat" of the user's own is left alone: the probe then uses a name of its own.
    const std::string probe = outputFolder + "temp.dat";
    int fd = open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        close(fd);
        unlink(probe.c_str());
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    std::string unique = outputFolder + ".quintaro-probe-XXXXXX";
    fd = mkostemp(unique.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    close(fd);
    unlink(unique.c_str());
    return true;
}

void RunBatch(BatchHost& host) {
    if (host.QueuedPathList().empty()) {
        host.LogLine("Nothing to do. Queue is empty!");
        return;
    }
    if (!OutputFolderWritable(WithTrailingDelimiter(host.CurrentSettings().OutputFolder))) {
        host.LogLine("Error: Output folder not writable.");
        return;
    }
    host.SetRunButtons(true);
    const std::string workFolder = WorkFolderPath();
    std::string problem = PrepareWorkFolder(workFolder);
    WorkFolderLock lock;
    if (problem.empty()) {
        problem = lock.Take(workFolder);
    }
    RunSummary summary;
    if (!problem.empty()) {
        host.LogLine("Error: " + problem);
        host.ReportError(problem);
    } else {
        host.ClearStopRequest();
        summary = BatchRun(host, workFolder).Run();
    }
    host.RunEnded(summary);
    host.SetRunButtons(false);
}
