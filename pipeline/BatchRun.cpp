#include "pipeline/BatchRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "pipeline/AnalysisOutput.h"
#include "pipeline/CommandLines.h"

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

// The last component of a path, for the log; a folder dropped with a trailing "/" keeps its name.
std::string DisplayName(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return FileNameOf(path);
}

std::string WithoutExtension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return path;
    }
    return path.substr(0, dot);
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

    Outcome Judge(int result, bool analysisPass) {
        if (result == 0) {
            host_.LogAppend("done.");
            return Outcome::Succeeded;
        }
        host_.LogAppend("error #" + std::to_string(result));
        if (analysisPass && result == -2) {
            host_.LogLine(">> Errors in source. File is corrupt.");
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
        return Judge(host_.RunStage(commandLine), analysisPass);
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

    // A later job of the run must not replace what an earlier one wrote, nor a file that waits in
    // the queue to be encoded: it gets "name (2).mp4".
    std::string UnclaimedOutputPath(const std::string& outputPath,
                                    const std::vector<std::string>& queued,
                                    const std::string& extension) {
        std::string why;
        if (NamesAnyOf(outputPath, written_)) {
            why = " was written earlier in this run";
        } else if (NamesAnyOf(outputPath, queued)) {
            why = " is queued as a source";
        } else {
            return outputPath;
        }
        const std::string base = WithoutExtension(outputPath);
        for (int number = 2;; ++number) {
            const std::string candidate = base + " (" + std::to_string(number) + ")" + extension;
            if (!NamesAnyOf(candidate, written_) && !Exists(candidate) &&
                !NamesAnyOf(candidate, queued)) {
                host_.LogLine("> " + FileNameOf(outputPath) + why + "; writing " +
                              FileNameOf(candidate) + " instead.");
                return candidate;
            }
        }
    }

    Outcome RunJob(int row) {
        const std::vector<std::string> paths = host_.QueuedPathList();
        if (row - 1 >= static_cast<int>(paths.size())) {
            return Outcome::EndRun;
        }
        const std::string source = paths[static_cast<size_t>(row - 1)];
        const bool isDvd = IsFolder(source);
        host_.LogLine((isDvd ? "Encoding DVD: " : "Encoding: ") + DisplayName(source));

        const EncodeSettings settings = host_.CurrentSettings();
        const std::string outputFolder = WithTrailingDelimiter(settings.OutputFolder);
        std::string outputPath = OutputPath(outputFolder, source, isDvd, settings.OutputFormat);
        host_.SetRowStatus(row, JobStatus::Encoding);
        cleanup_.push_back(outputFolder + "divx2pass.log");

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
        outputPath = UnclaimedOutputPath(outputPath, paths, OutputExtension(settings.OutputFormat));

        const JobCommands job =
            BuildJobCommands(host_.AppDir(), workFolder_, source, isDvd, settings, outputPath);
        for (const char* name : {"video.264", "audio.wav", "audio.mp4"}) {
            cleanup_.push_back(workFolder_ + name);
        }
        const bool mkvOutput = !job.MkvMerge.empty();
        if (mkvOutput) {
            cleanup_.push_back(workFolder_ + "tempout.mp4");
        }
        // The encoder keeps its two-pass statistics beside the stream.
        cleanup_.push_back(workFolder_ + "divx2pass.log");
        cleanup_.push_back(workFolder_ + "divx2pass.log.mbtree");

        if (job.IsOgm) {
            host_.LogLine("> Converting to Matroska...");
            host_.RunStage(job.MatroskaConversion);
            host_.LogAppend("done!");
            cleanup_.push_back(workFolder_ + "source.mkv");
        }

        Outcome outcome = Stage("> Running video analysis...", job.AnalysisPass, true);
        if (outcome != Outcome::Succeeded) {
            return outcome;
        }
        host_.DeleteFile(workFolder_ + "video.264");
        const std::vector<std::string>& analysis = host_.LastToolOutput();
        const bool hasAudio = HasAudio(analysis);
        const std::optional<std::string> frameRate = FrameRate(analysis);
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

        // Earlier failed jobs of the run left their files too; they go now.
        for (const std::string& file : cleanup_) {
            host_.DeleteFile(file);
        }
        written_.insert(outputPath);
        host_.LogLine("> Finished!");
        SetEncodingRows(JobStatus::Done);
        ++summary_.done;
        return Outcome::Succeeded;
    }

    BatchHost& host_;
    const std::string workFolder_;
    std::vector<std::string> cleanup_;
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
    // Its stream file goes to the tools unquoted, and the other files in quotes.
    if (folder.find_first_of(" \t\"") != std::string::npos) {
        return "The work folder " + quoted +
               " holds a blank or a double quote, which the tools cannot be given; set TEMP to "
               "another folder.";
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
    const std::string problem = PrepareWorkFolder(workFolder);
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
