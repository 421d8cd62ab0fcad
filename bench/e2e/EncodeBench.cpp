// A 20-second 640x480 clip with audio encoded three ways, in alternation:
//   - Quintaro: queued in the window (offscreen) and encoded by pressing Start, with the real
//     tool slots;
//   - a shell script running the same five command lines one after another (analysis, encoding,
//     audio extraction, audio encoding, MP4 merge with "[FPS]" replaced);
//   - HandBrakeCLI: two-pass x264 at the same average bitrate and x264 options, AAC at 32 kbps.
// The window runs its tools at nice 19 on purpose; the script and HandBrakeCLI run both at normal
// priority and under nice 19, and the like-for-like ratios are those at nice 19.
// Targets: Quintaro within 3% of the script, and no slower than HandBrakeCLI.
//
// Flags: --reps N (default 3), --size WxH (default 640x480), --slots DIR (default: the build's),
// --stages (instead: each stage through RunTool against sh, to see where the time goes),
// --only NAME (with --stages: that stage alone, e.g. "encoding").
#include <sys/stat.h>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Tfmain.h"
#include "bench/batch/BenchSupport.h"
#include "pipeline/AnalysisOutput.h"
#include "pipeline/BatchRun.h"
#include "pipeline/CommandLines.h"

namespace {

struct Variant {
    std::string name;
    std::string output;  // the file it writes
    std::vector<double> seconds;
    std::vector<double> cpu;
    std::string failure;
};

bool HasFlag(int argc, char** argv, const std::string& flag) {
    for (int i = 1; i < argc; ++i) {
        if (flag == argv[i]) {
            return true;
        }
    }
    return false;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The streams of an output as "video h264 268 kbit/s 500 frames, audio aac 32 kbit/s".
std::string Describe(const std::string& path, const std::string& scratch) {
    const bench::ChildResult probe =
        bench::RunChild({"ffprobe", "-v", "error", "-show_entries",
                         "stream=codec_type,codec_name,bit_rate,nb_frames", "-of", "csv=p=0", path},
                        scratch, 0);
    if (probe.status != 0) {
        return "(ffprobe failed)";
    }
    std::string description;
    std::istringstream lines(ReadFile(scratch));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, ',');) {
            fields.push_back(field);
        }
        if (fields.size() < 4) {
            continue;
        }
        // csv order follows the stream's own field order: codec_name, codec_type, bit_rate, frames
        const std::string& codec = fields[0];
        const std::string& type = fields[1];
        const long rate = std::atol(fields[2].c_str());
        description += (description.empty() ? "" : ", ") + type + " " + codec + " " +
                       std::to_string((rate + 500) / 1000) + " kbit/s";
        if (type == "video") {
            description += " " + fields[3] + " frames";
        }
    }
    return description;
}

std::string ScriptLine(const std::string& commandLine, const std::string& log, int code) {
    return bench::ShellCommand(commandLine) + " > " + bench::ShellQuoted(log) + " 2>&1 || exit " +
           std::to_string(code) + "\n";
}

// Progress goes to a shown window's progress field, as during a real run.
class WindowHost : public ToolHost {
  public:
    explicit WindowHost(Tfmain& window) : window_(window) {}
    bool StopRequested() const override { return false; }
    void SetProgressText(const std::string& text) override { window_.SetProgressText(text); }

  private:
    Tfmain& window_;
};

struct StageLine {
    std::string name;
    std::string commandLine;
};

// --stages: where the time goes. Each stage of the job through RunTool with its progress shown
// in a window (as during a real run), through RunTool with progress going nowhere, and through sh
// under nice 19, in alternation, with the median of each.
void CompareStages(const std::vector<StageLine>& stages, const std::string& logs, int reps) {
    Tfmain window;
    window.show();
    QApplication::processEvents();
    WindowHost windowHost(window);
    bench::QuietHost quietHost;
    const size_t count = stages.size();
    enum { kWindow, kQuiet, kShell, kWays };
    // [way][stage] -> seconds per repetition
    std::vector<std::vector<std::vector<double>>> wall(kWays,
                                                       std::vector<std::vector<double>>(count)),
        toolCpu = wall, ownCpu = wall, preempted = wall, ownWakes = wall;
    std::vector<double> lines(count);
    for (int rep = 0; rep < reps; ++rep) {
        for (int turn = 0; turn < kWays; ++turn) {
            const int way = (rep + turn) % kWays;
            for (size_t i = 0; i < count; ++i) {
                const double cpuBefore = bench::ChildrenCpuSeconds();
                const double ownBefore = bench::OwnCpuSeconds();
                const bench::Switches toolSwitches = bench::ChildrenSwitches();
                const bench::Switches ownSwitches = bench::OwnSwitches();
                const auto start = bench::Clock::now();
                if (way == kShell) {
                    bench::RunChild({"sh", "-c",
                                     bench::ShellCommand(stages[i].commandLine) + " > " +
                                         bench::ShellQuoted(logs + "stage.log") + " 2>&1"},
                                    "/dev/null", 19);
                } else {
                    std::vector<std::string> output;
                    RunTool(stages[i].commandLine,
                            way == kWindow ? static_cast<ToolHost&>(windowHost) : quietHost,
                            output);
                    lines[i] = static_cast<double>(output.size());
                }
                wall[way][i].push_back(bench::SecondsSince(start));
                toolCpu[way][i].push_back(bench::ChildrenCpuSeconds() - cpuBefore);
                ownCpu[way][i].push_back(bench::OwnCpuSeconds() - ownBefore);
                preempted[way][i].push_back(static_cast<double>(
                    bench::ChildrenSwitches().involuntary - toolSwitches.involuntary));
                ownWakes[way][i].push_back(
                    static_cast<double>(bench::OwnSwitches().voluntary - ownSwitches.voluntary));
            }
        }
    }
    std::printf("wall time (median), the tools' CPU and this process's CPU per stage:\n");
    std::printf("%-17s %24s %24s %18s %6s\n", "stage", "RunTool + window", "RunTool, no window",
                "sh under nice 19", "lines");
    double total[kWays] = {0, 0, 0};
    for (size_t i = 0; i < count; ++i) {
        std::printf("%-17s", stages[i].name.c_str());
        for (int way = 0; way < kWays; ++way) {
            const double seconds = bench::Median(wall[way][i]);
            total[way] += seconds;
            if (way == kShell) {
                std::printf("   %6.3f s (CPU %5.2f)", seconds, bench::Median(toolCpu[way][i]));
            } else {
                std::printf("   %6.3f s (CPU %5.2f+%4.2f)", seconds, bench::Median(toolCpu[way][i]),
                            bench::Median(ownCpu[way][i]));
            }
        }
        std::printf(" %6.0f\n", lines[i]);
    }
    std::printf("%-17s   %6.3f s %16s %6.3f s %16s %6.3f s\n", "sum of medians", total[kWindow], "",
                total[kQuiet], "", total[kShell]);
    std::printf("ratio to sh under nice 19: RunTool + window %.3f, RunTool without window %.3f\n",
                total[kWindow] / total[kShell], total[kQuiet] / total[kShell]);
    // What the runner does to the tools' scheduling: how often they were taken off a processor,
    // and how often this process woke (its threads' waits).
    std::printf("medians per stage: the tools preempted / this process's wake-ups\n");
    std::printf("%-17s %24s %24s %18s\n", "stage", "RunTool + window", "RunTool, no window",
                "sh under nice 19");
    for (size_t i = 0; i < count; ++i) {
        std::printf("%-17s", stages[i].name.c_str());
        for (int way = 0; way < kWays; ++way) {
            std::printf("   %10.0f / %-10.0f", bench::Median(preempted[way][i]),
                        bench::Median(ownWakes[way][i]));
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir temp;
    const std::string root = temp.path().toStdString();
    // The window's work folder is TEMP + "/tarnok/"; the script uses the same one.
    qputenv("TEMP", QFile::encodeName(temp.path()));
    QApplication application(argc, argv);

    const int reps = bench::Repetitions(argc, argv, 3);
    const std::string slotFolder = bench::SlotFolder(argc, argv);
    const std::string size = bench::FlagValue(argc, argv, "--size", "640x480");
    const int width = std::atoi(size.c_str());
    const int height = std::atoi(size.substr(size.find('x') + 1).c_str());

    const std::string clip = root + "/clip.mp4";
    const std::string problem = bench::MakeClip(clip, 20, width, height);
    if (!problem.empty()) {
        std::fprintf(stderr, "cannot make the clip: %s\n", problem.c_str());
        return 1;
    }
    const std::string workFolder = WorkFolderPath();
    const std::string workProblem = PrepareWorkFolder(workFolder);
    if (!workProblem.empty()) {
        std::fprintf(stderr, "%s\n", workProblem.c_str());
        return 1;
    }
    for (const char* folder : {"/out-window", "/out-script", "/out-handbrake", "/logs"}) {
        mkdir((root + folder).c_str(), 0700);
    }

    // The script's five command lines, as the batch run builds them for this job.
    EncodeSettings settings;
    settings.OutputFolder = root + "/out-script/";
    const std::string scriptOutput = OutputPath(settings.OutputFolder, clip, false, 0);
    const JobCommands job =
        BuildJobCommands(slotFolder, workFolder, clip, false, settings, scriptOutput);

    // One untimed analysis pass first: it warms the caches for every variant alike, and its
    // output gives the frame rate for "[FPS]" as the batch run reads it.
    bench::QuietHost host;
    std::vector<std::string> analysis;
    if (RunTool(job.AnalysisPass, host, analysis) != 0 || !FrameRate(analysis)) {
        std::fprintf(stderr, "the warm-up analysis pass failed\n");
        return 1;
    }
    const std::string frameRate = *FrameRate(analysis);
    const bool hasAudio = HasAudio(analysis);
    std::string merge = ReplaceFps(job.Mp4Merge, frameRate);
    if (hasAudio) {
        merge = AppendAudioPiece(merge, workFolder);
    }
    const std::string logs = root + "/logs/";
    std::string script = "#!/bin/sh\n";
    script += ScriptLine(job.AnalysisPass, logs + "analysis.log", 1);
    script += "rm -f " + bench::ShellQuoted(workFolder + "video.264") + "\n";
    script += ScriptLine(job.EncodingPass, logs + "encoding.log", 2);
    if (hasAudio) {
        script += ScriptLine(job.AudioExtraction, logs + "extraction.log", 3);
        script += ScriptLine(job.AudioEncoding, logs + "audio.log", 4);
    }
    script += ScriptLine(merge, logs + "merge.log", 5);
    // The window deletes the job's intermediate files as well.
    script += "rm -f";
    for (const char* name :
         {"video.264", "audio.wav", "audio.mp4", "divx2pass.log", "divx2pass.log.mbtree"}) {
        script += " " + bench::ShellQuoted(workFolder + name);
    }
    script += "\n";
    const std::string scriptPath = root + "/encode.sh";
    std::ofstream(scriptPath) << script;

    const std::string handbrakeOutput = root + "/out-handbrake/clip.mp4";
    // Explicit options, no preset: two passes with a turbo first pass, the same bitrate and x264
    // options as the encoding pass (the "Anime" source type and "Normal" quality, partitions=all
    // and no fast P-skip among them), AAC at 32 kbit/s, no cropping.
    std::vector<std::string> handbrake = {"HandBrakeCLI", "-i", clip, "-o", handbrakeOutput};
    std::istringstream options(
        "-f av_mp4 -e x264 -b 268 -2 -T -x "
        "deblock=1,1:ref=5:bframes=5:b-pyramid=normal:fast-pskip=0:8x8dct=1:weightb=1:"
        "mixed-refs=1:me=umh:partitions=all:subme=6:trellis=1 -E av_aac -B 32 --crop 0:0:0:0");
    for (std::string word; options >> word;) {
        handbrake.push_back(word);
    }

    std::printf("encoding a 20 s %s clip with audio, %d repetitions (load %s)\n", size.c_str(),
                reps, bench::LoadAverage().c_str());
    std::printf("frame rate from the analysis pass: %s, audio: %s\n", frameRate.c_str(),
                hasAudio ? "yes" : "no");
    std::printf("script (%s):\n%s", scriptPath.c_str(), script.c_str());
    std::printf("HandBrakeCLI:");
    for (const std::string& word : handbrake) {
        std::printf(" %s", bench::ShellQuoted(word).c_str());
    }
    std::printf("\n");

    if (HasFlag(argc, argv, "--stages")) {
        std::vector<StageLine> stages = {{"analysis", job.AnalysisPass},
                                         {"encoding", job.EncodingPass},
                                         {"audio extraction", job.AudioExtraction},
                                         {"audio encoding", job.AudioEncoding},
                                         {"MP4 merge", merge}};
        // --only NAME: that stage alone, for more repetitions in the same time.
        const std::string only = bench::FlagValue(argc, argv, "--only", "");
        if (!only.empty()) {
            std::erase_if(stages, [&only](const StageLine& stage) { return stage.name != only; });
        }
        CompareStages(stages, logs, reps);
        return 0;
    }

    std::vector<Variant> variants = {
        {"Quintaro window (tools at nice 19)", root + "/out-window/clip.mp4", {}, {}, {}},
        {"shell script, normal priority", scriptOutput, {}, {}, {}},
        {"shell script under nice 19", scriptOutput, {}, {}, {}},
        {"HandBrakeCLI, normal priority", handbrakeOutput, {}, {}, {}},
        {"HandBrakeCLI under nice 19", handbrakeOutput, {}, {}, {}},
    };
    const int count = static_cast<int>(variants.size());
    std::vector<double> windowOwnCpu;

    for (int rep = 0; rep < reps; ++rep) {
        std::printf("  round %d:", rep + 1);
        // The order turns every round so that no variant always follows the same one.
        for (int turn = 0; turn < count; ++turn) {
            const int which = (rep + turn) % count;
            Variant& variant = variants[static_cast<size_t>(which)];
            unlink(variant.output.c_str());
            double seconds = 0, cpu = 0;
            if (which == 0) {
                auto window = std::make_unique<Tfmain>();
                std::vector<std::string> boxes;
                window->Dialogs.MessageBox = [&boxes](QMessageBox::Icon, const QString&,
                                                      const QString& text,
                                                      QMessageBox::StandardButtons) {
                    boxes.push_back(text.toStdString());
                    return QMessageBox::Ok;
                };
                window->AppDir = slotFolder;
                window->txtOutput->setText(QFile::decodeName((root + "/out-window/").c_str()));
                window->AddQueueEntry(clip);
                window->show();
                QApplication::processEvents();
                const double cpuBefore = bench::ChildrenCpuSeconds();
                const double ownBefore = bench::OwnCpuSeconds();
                const auto start = bench::Clock::now();
                window->btnStart->click();
                seconds = bench::SecondsSince(start);
                cpu = bench::ChildrenCpuSeconds() - cpuBefore;
                windowOwnCpu.push_back(bench::OwnCpuSeconds() - ownBefore);
                if (window->RowStatus(1) != "done") {
                    variant.failure = "status \"" + window->RowStatus(1) + "\"";
                    for (const std::string& line : window->LogLines()) {
                        variant.failure += "\n    " + line;
                    }
                    for (const std::string& box : boxes) {
                        variant.failure += "\n    box: " + box;
                    }
                }
            } else {
                const bool nice = which == 2 || which == 4;
                const bench::ChildResult child =
                    which <= 2
                        ? bench::RunChild({"sh", scriptPath}, logs + "script.log", nice ? 19 : 0)
                        : bench::RunChild(handbrake, logs + "handbrake.log", nice ? 19 : 0);
                seconds = child.seconds;
                cpu = child.cpuSeconds;
                if (child.status != 0) {
                    variant.failure =
                        "exit " + std::to_string(child.status) + " (see " + logs +
                        (which <= 2 ? "script.log and the stage logs" : "handbrake.log") + ")";
                }
            }
            if (!variant.failure.empty()) {
                std::printf("\n%s failed: %s\n", variant.name.c_str(), variant.failure.c_str());
                temp.setAutoRemove(false);  // for the logs
                return 1;
            }
            variant.seconds.push_back(seconds);
            variant.cpu.push_back(cpu);
        }
        for (const Variant& variant : variants) {
            std::printf("  %.2f", variant.seconds.back());
        }
        std::printf("  s (in the order below)\n");
    }
    std::printf("load after the runs: %s\n", bench::LoadAverage().c_str());

    for (const Variant& variant : variants) {
        std::printf("median %-36s %7.3f s  (fastest %.3f s, CPU %.3f s)\n", variant.name.c_str(),
                    bench::Median(variant.seconds), bench::Minimum(variant.seconds),
                    bench::Median(variant.cpu));
    }
    std::printf("CPU of the window's own process per run: %.3f s\n", bench::Median(windowOwnCpu));
    for (size_t i : {size_t{0}, size_t{1}, size_t{3}}) {
        std::printf("output of %-36s %s\n", variants[i].name.c_str(),
                    Describe(variants[i].output, logs + "ffprobe.txt").c_str());
    }

    auto median = [&variants](size_t i) { return bench::Median(variants[i].seconds); };
    const double toScript = median(0) / median(2);
    const double toHandbrake = median(0) / median(4);
    std::printf("ratio Quintaro / script, same priority (nice 19):       %.3f\n", toScript);
    std::printf("ratio Quintaro / script at normal priority:             %.3f\n",
                median(0) / median(1));
    std::printf("ratio Quintaro / HandBrakeCLI, same priority (nice 19): %.3f\n", toHandbrake);
    std::printf("ratio Quintaro / HandBrakeCLI at normal priority:       %.3f\n",
                median(0) / median(3));
    std::printf("ratio script / HandBrakeCLI, both at normal priority:   %.3f\n",
                median(1) / median(3));
    // The fastest run of each is the one least disturbed by other work on the machine.
    auto fastest = [&variants](size_t i) { return bench::Minimum(variants[i].seconds); };
    std::printf(
        "ratios of the fastest runs (same priority): Quintaro / script %.3f, "
        "Quintaro / HandBrakeCLI %.3f\n",
        fastest(0) / fastest(2), fastest(0) / fastest(4));
    std::printf("target: Quintaro within 3%% of the script (same priority): %s\n",
                bench::Verdict(toScript <= 1.03).c_str());
    std::printf("target: Quintaro no slower than HandBrakeCLI (same priority): %s\n",
                bench::Verdict(toHandbrake <= 1.0).c_str());
    return 0;
}
