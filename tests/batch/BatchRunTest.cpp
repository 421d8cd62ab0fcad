#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <fstream>

#include "BatchFixture.h"
#include "pipeline/CommandLines.h"

using Lines = std::vector<std::string>;
constexpr size_t npos = std::string::npos;

namespace {

class BatchRunTest : public testing::Test {
  protected:
    void SetUp() override { host.Use(tools); }

    std::string Out(const std::string& name) const { return tools.OutputFolder() + name; }
    std::string Work(const std::string& name) const { return tools.WorkFolder() + name; }

    StandInTools tools;
    FakeHost host;
};

}  // namespace

TEST_F(BatchRunTest, EmptyQueueOnlyLogs) {
    RunBatch(host);
    EXPECT_EQ(host.log, Lines{"Nothing to do. Queue is empty!"});
    EXPECT_EQ(host.buttonChanges, 0);
    EXPECT_TRUE(tools.Calls().empty());
}

TEST_F(BatchRunTest, UnwritableOutputFolderOnlyLogs) {
    host.Queue(tools.Source("a.avi"));
    for (const std::string& folder : {tools.Root() + "/missing", tools.Root() + "/src/a.avi"}) {
        host.log.clear();
        host.settings.OutputFolder = folder;
        RunBatch(host);
        EXPECT_EQ(host.log, Lines{"Error: Output folder not writable."}) << folder;
    }
    EXPECT_EQ(host.buttonChanges, 0);
    EXPECT_EQ(host.Statuses(), Lines{"ready"});
    EXPECT_FALSE(FileExists(tools.WorkFolder()));
}

TEST_F(BatchRunTest, ProbeLeavesNothingAndSparesTheUsersTempDat) {
    host.entries.push_back({"done", tools.Source("a.avi")});
    host.settings.OutputFolder = tools.Root() + "/out";  // no trailing delimiter
    RunBatch(host);
    EXPECT_FALSE(FileExists(Out("temp.dat")));

    std::ofstream(Out("temp.dat")) << "the user's own";
    RunBatch(host);
    EXPECT_EQ(ReadFile(Out("temp.dat")), "the user's own");
    EXPECT_EQ(host.log, Lines{});
}

TEST_F(BatchRunTest, NothingReadyTogglesButtonsAndPreparesWorkFolder) {
    host.entries.push_back({"done", tools.Source("a.avi")});
    host.entries.push_back({"error", tools.Source("b.avi")});
    host.entries.push_back({"Ready", tools.Source("c.avi")});  // statuses are case-sensitive
    host.stop = true;
    RunBatch(host);
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(host.buttonChanges, 2);
    EXPECT_FALSE(host.running);
    EXPECT_FALSE(host.stop);
    struct stat info;
    ASSERT_EQ(lstat(tools.WorkFolder().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(tools.Calls().empty());
}

TEST_F(BatchRunTest, FullJobsRunEveryStageInOrder) {
    struct Case {
        const char* name;
        int format;
        bool audio;
        Lines log;
    };
    const Case cases[] = {
        {"mp4 with audio",
         0,
         true,
         {"Encoding: my clip.avi", "> Running video analysis... done.",
          "> Running video encoding... done.", "> Running audio extracting... done.",
          "> Running audio encoding... done.", "> Merging audio and video to MP4... done.",
          "> Finished!"}},
        {"mp4 without audio",
         0,
         false,
         {"Encoding: my clip.avi", "> Running video analysis... done.",
          "> Running video encoding... done.", "> Merging video to MP4... done.", "> Finished!"}},
        {"mkv with audio",
         1,
         true,
         {"Encoding: my clip.avi", "> Running video analysis... done.",
          "> Running video encoding... done.", "> Running audio extracting... done.",
          "> Running audio encoding... done.",
          "> Merging audio and video to temporary MP4... done.",
          "> Merging temporary MP4 to final MKV... done.", "> Finished!"}},
        {"mkv without audio",
         1,
         false,
         {"Encoding: my clip.avi", "> Running video analysis... done.",
          "> Running video encoding... done.", "> Merging video to temporary MP4... done.",
          "> Merging temporary MP4 to final MKV... done.", "> Finished!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInTools local;
        FakeHost run;
        run.Use(local);
        run.settings.OutputFormat = c.format;
        if (!c.audio) {
            local.Behave("mencoder.exe", "audio_line='Audio: no sound'");
        }
        const std::string source = local.Source("my clip.avi");
        run.Queue(source);
        RunBatch(run);

        EXPECT_EQ(run.log, c.log);
        EXPECT_EQ(run.Statuses(), Lines{"done"});
        EXPECT_FALSE(run.running);
        EXPECT_EQ(run.buttonChanges, 2);

        const std::string work = local.WorkFolder();
        const std::string output =
            local.OutputFolder() + (c.format ? "my clip.mkv" : "my clip.mp4");
        // The last merge writes "name.ext.part", which becomes the output once it is complete.
        const JobCommands job =
            BuildJobCommands(local.AppDir(), work, source, false, run.settings, output + ".part");
        Lines expected = {job.AnalysisPass, job.EncodingPass};
        if (c.audio) {
            expected.push_back(job.AudioExtraction);
            expected.push_back(job.AudioEncoding);
        }
        std::string merge = ReplaceFps(job.Mp4Merge, "25.000");
        expected.push_back(c.audio ? AppendAudioPiece(merge, work) : merge);
        if (c.format == 1) {
            expected.push_back(job.MkvMerge);
        }
        EXPECT_EQ(run.commandsRun, expected);

        // The tools see each quoted path as one word.
        const Lines calls = local.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].rfind("mencoder.exe [" + source + "] [-mc] [0] [-of]", 0), 0u)
            << calls[0];
        EXPECT_NE(calls.back().find("[" + output + ".part]"), std::string::npos);
        EXPECT_FALSE(FileExists(output + ".part"));

        EXPECT_EQ(ReadFile(output), c.format ? "mkvmerge.exe\n" : "MP4Box.exe\n");
        for (const char* scratch : {"video.264", "audio.wav", "audio.mp4", "tempout.mp4"}) {
            EXPECT_FALSE(FileExists(work + scratch)) << scratch;
        }
        EXPECT_FALSE(FileExists(local.OutputFolder() + "temp.dat"));
        EXPECT_EQ(run.progress.back(), "Pos:   1.0s     25f (100%)  25 fps");
    }
}

TEST_F(BatchRunTest, CorruptSourceFailsItsJobAndTheNextOneRuns) {
    tools.Behave("mencoder.exe", "case \"$*\" in *bad.avi*) code=254;; esac");
    host.Queue(tools.Source("bad.avi"));
    host.Queue(tools.Source("good.avi"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"error", "done"}));
    const Lines head(host.log.begin(), host.log.begin() + 4);
    EXPECT_EQ(head, (Lines{"Encoding: bad.avi", "> Running video analysis... error #-2",
                           ">> Errors in source. File is corrupt.", "Encoding: good.avi"}));
    EXPECT_EQ(host.log.back(), "> Finished!");
}

TEST_F(BatchRunTest, EachRunThatGotGoingEndsWithItsSummary) {
    // No summary without a run: an empty queue or an unwritable output folder.
    RunBatch(host);
    host.Queue(tools.Source("bad.avi"));
    host.settings.OutputFolder = tools.Root() + "/missing/";
    RunBatch(host);
    EXPECT_TRUE(host.summaries.empty());

    host.settings.OutputFolder = tools.OutputFolder();
    tools.Behave("mencoder.exe", "case \"$*\" in *bad.avi*) code=254;; esac");
    host.Queue(tools.Source("good.avi"));
    host.Queue(tools.Source("other.avi"));
    RunBatch(host);
    ASSERT_EQ(host.summaries.size(), 1u);
    EXPECT_EQ(host.summaries[0].done, 2);
    EXPECT_EQ(host.summaries[0].failed, 1);
    EXPECT_TRUE(host.summaries[0].queueFinished);

    // Stopped: the queue is not finished, and only this run's jobs count.
    tools.Behave("mencoder.exe", "progress='slow'; delay=30.383");
    host.entries[1].status = JobStatus::Ready;
    host.onProgress = [](FakeHost& h, const std::string& text) { h.stop = text == "slow"; };
    RunBatch(host);
    ASSERT_EQ(host.summaries.size(), 2u);
    EXPECT_EQ(host.summaries[1].done, 0);
    EXPECT_EQ(host.summaries[1].failed, 0);
    EXPECT_FALSE(host.summaries[1].queueFinished);
    EXPECT_EQ(host.Statuses(), (Lines{"error", "ready", "done"}));
}

TEST_F(BatchRunTest, FailedStageKeepsItsFilesUntilALaterJobCompletes) {
    // The first job fails at audio encoding after the encoding pass and extraction wrote files.
    tools.Behave("enhAacPlusEnc.exe",
                 "[ -f \"$STANDIN_DIR/failed-once\" ] || "
                 "{ code=3; write=0; touch \"$STANDIN_DIR/failed-once\"; }");
    host.Queue(tools.Source("a.avi"));
    host.Queue(tools.Source("b.avi"));
    host.afterStage = [this](FakeHost& h, const std::string& line, int result) {
        if (result == 3) {
            EXPECT_TRUE(FileExists(Work("video.264")));
            EXPECT_TRUE(FileExists(Work("audio.wav")));
            EXPECT_EQ(h.Statuses(), (Lines{"encoding", "ready"})) << line;
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"error", "done"}));
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "> Running audio encoding... error #3"),
              host.log.end());
    EXPECT_FALSE(FileExists(Work("video.264")));
    EXPECT_FALSE(FileExists(Work("audio.wav")));
    EXPECT_FALSE(FileExists(Out("a.mp4")));
    EXPECT_TRUE(FileExists(Out("b.mp4")));

    // Each analysis pass's stream goes at once; the run's list goes, in order, when b completes.
    const Lines jobFiles = {Work("video.264"),
                            Work("audio.wav"),
                            Work("audio.mp4"),
                            Work("divx2pass.log"),
                            Work("divx2pass.log.mbtree"),
                            Work("divx2pass.log.temp"),
                            Work("divx2pass.log.mbtree.temp")};
    Lines expected = {Work("video.264"), Work("video.264")};
    for (const char* name : {"a.mp4.part", "b.mp4.part"}) {
        expected.insert(expected.end(), jobFiles.begin(), jobFiles.end());
        expected.push_back(Out(name));
    }
    EXPECT_EQ(host.deleted, expected);
}

TEST_F(BatchRunTest, FailedJobFilesStayWhenNoLaterJobCompletes) {
    tools.Behave("MP4Box.exe", "code=1; write=0");
    host.Queue(tools.Source("a.avi"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"error"});
    EXPECT_EQ(host.log[host.log.size() - 2], "> Merging audio and video to MP4... error #1");
    EXPECT_TRUE(FileExists(Work("video.264")));
    EXPECT_TRUE(FileExists(Work("audio.mp4")));
}

TEST_F(BatchRunTest, CleanupDeletesWhatTheRunNamed) {
    mkdir(tools.WorkFolder().c_str(), 0700);
    // The statistics are the encoder's, in the work folder: a file of that name in the output
    // folder is the user's.
    std::ofstream(Out("divx2pass.log")) << "the user's";
    std::ofstream(Work("stray")) << "not named";
    host.Queue(tools.Source("a.avi"));
    std::ofstream(Work("divx2pass.log")) << "stats";
    std::ofstream(Work("divx2pass.log.mbtree")) << "stats";
    std::ofstream(Work("divx2pass.log.temp")) << "stats of a stopped pass";
    RunBatch(host);
    EXPECT_EQ(ReadFile(Out("divx2pass.log")), "the user's");
    EXPECT_FALSE(FileExists(Work("divx2pass.log")));
    EXPECT_FALSE(FileExists(Work("divx2pass.log.mbtree")));
    EXPECT_FALSE(FileExists(Work("divx2pass.log.temp")));
    EXPECT_TRUE(FileExists(Work("stray")));
}

TEST_F(BatchRunTest, StopDuringAStageEndsTheRun) {
    tools.Behave("mencoder.exe",
                 "case \"$*\" in *b.avi*pass=2*) printf partial > \"$out\"; write=0; "
                 "progress='encoding b'; delay=30.517;; esac");
    host.Queue(tools.Source("a.avi"));
    host.Queue(tools.Source("b.avi"));
    host.Queue(tools.Source("c.avi"));
    host.onProgress = [](FakeHost& h, const std::string& text) {
        if (text == "encoding b") {
            h.stop = true;
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"done", "ready", "ready"}));
    EXPECT_EQ(host.log.back(), ">> Stopped.");
    EXPECT_EQ(host.log[host.log.size() - 2], "> Running video encoding... error #-1");
    EXPECT_EQ(host.log[host.log.size() - 4], "Encoding: b.avi");
    EXPECT_FALSE(host.running);
    EXPECT_EQ(ReadFile(Work("video.264")), "partial");
    EXPECT_TRUE(NoProcessWith("sleep 30.517"));
}

TEST_F(BatchRunTest, ToolThatEndedBeforeStopWasNoticedCounts) {
    tools.Behave("mencoder.exe", "case \"$*\" in *pass=2*) delay=30.271;; esac");
    host.Queue(tools.Source("a.avi"));
    host.Queue(tools.Source("b.avi"));
    host.afterStage = [](FakeHost& h, const std::string& line, int result) {
        if (line.find("pass=1") != std::string::npos) {
            EXPECT_EQ(result, 0);
            h.stop = true;  // pressed just as the analysis pass ended by itself
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.log, (Lines{"Encoding: a.avi", "> Running video analysis... done.",
                               "> Running video encoding... error #-1", ">> Stopped."}));
    EXPECT_EQ(host.Statuses(), (Lines{"ready", "ready"}));
    EXPECT_TRUE(NoProcessWith("sleep 30.271"));
}

TEST_F(BatchRunTest, StopAfterTheLastStageStopsTheNextJobsFirstJudgedStage) {
    tools.Behave("mencoder.exe", "case \"$*\" in *b.avi*) delay=30.389;; esac");
    host.Queue(tools.Source("a.avi"));
    host.Queue(tools.Source("b.avi"));
    host.afterStage = [](FakeHost& h, const std::string& line, int) {
        if (line.find("MP4Box") != std::string::npos) {
            h.stop = true;
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"done", "ready"}));
    EXPECT_EQ(host.log[host.log.size() - 2], "> Running video analysis... error #-1");
    EXPECT_EQ(host.log.back(), ">> Stopped.");

    // With nothing left to encode the run simply ends.
    FakeHost single;
    single.Use(tools);
    single.Queue(tools.Source("c.avi"));
    single.afterStage = host.afterStage;
    RunBatch(single);
    EXPECT_EQ(single.Statuses(), Lines{"done"});
    EXPECT_EQ(single.log.back(), "> Finished!");
}

TEST_F(BatchRunTest, ResetAllStatusDuringAJobEncodesFromTheTopAgain) {
    tools.Behave("mencoder.exe", "case \"$*\" in *pass=2*) progress='pass 2';; esac");
    host.Queue(tools.Source("a.avi"));
    host.Queue(tools.Source("b.avi"));
    bool reset = false;
    host.onProgress = [&reset](FakeHost& h, const std::string& text) {
        if (text == "pass 2" && !reset && h.entries[1].status == "encoding") {
            reset = true;
            for (auto& entry : h.entries) {
                entry.status = "ready";
            }
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"done", "done"}));
    Lines jobs;
    for (const std::string& line : host.log) {
        if (line.rfind("Encoding: ", 0) == 0) {
            jobs.push_back(line);
        }
    }
    EXPECT_EQ(jobs,
              (Lines{"Encoding: a.avi", "Encoding: b.avi", "Encoding: a.avi", "Encoding: b.avi"}));
}

TEST_F(BatchRunTest, RemovingTheRunningEntryWritesItsOutcomeNowhere) {
    tools.Behave("mencoder.exe", "case \"$*\" in *a.avi*pass=2*) progress='pass 2 of a';; esac");
    host.Queue(tools.Source("a.avi"));
    host.Queue(tools.Source("b.avi"));
    host.onProgress = [](FakeHost& h, const std::string& text) {
        if (text == "pass 2 of a" && h.entries.size() == 2) {
            h.entries.erase(h.entries.begin());
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"done"});
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "> Finished!"), 2);
}

TEST_F(BatchRunTest, OgmSourcesAreConvertedFirstWhateverTheConversionSays) {
    tools.Behave("mkvmerge.exe", "code=2");
    const std::string ogm = tools.Source("film.ogm");
    const std::string upper = tools.Source("FILM2.OGM");
    host.Queue(ogm);
    host.Queue(upper);
    RunBatch(host);
    EXPECT_EQ(host.log[0], "Encoding: film.ogm");
    EXPECT_EQ(host.log[1], "> Converting to Matroska... done!");
    EXPECT_EQ(host.commandsRun[0],
              MatroskaConversionCommand(tools.AppDir(), tools.WorkFolder(), ogm));
    EXPECT_NE(host.commandsRun[1].find("\"" + Work("source.mkv") + "\"  -mc 0"), std::string::npos);
    EXPECT_TRUE(FileExists(Out("film.mp4")));
    EXPECT_FALSE(FileExists(Work("source.mkv")));
    // The converted file is the last of its job's files on the clean-up list.
    const auto converted = std::find(host.deleted.begin(), host.deleted.end(), Work("source.mkv"));
    ASSERT_NE(converted, host.deleted.end());
    EXPECT_EQ(*(converted - 1), Out("film.mp4.part"));

    const auto second = std::find(host.log.begin(), host.log.end(), "Encoding: FILM2.OGM");
    ASSERT_NE(second, host.log.end());
    EXPECT_EQ(*(second + 1), "> Running video analysis... done.");
    EXPECT_TRUE(FileExists(Out("FILM2.mp4")));
    EXPECT_EQ(host.Statuses(), (Lines{"done", "done"}));
}

TEST_F(BatchRunTest, DvdFoldersAndSameNamesGetNumberedOutputs) {
    const std::string dvd1 = tools.Root() + "/src/DISC ONE";
    const std::string dvd2 = tools.Root() + "/src/DISC TWO/";
    mkdir(dvd1.c_str(), 0755);
    mkdir(dvd2.c_str(), 0755);
    mkdir((tools.Root() + "/src/other").c_str(), 0755);
    host.Queue(dvd1);
    host.Queue(dvd2);
    host.Queue(tools.Source("clip.avi"));
    host.Queue(tools.Source("other/clip.avi"));
    host.Queue(tools.Source("other/clip.mkv"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines(5, "done"));
    EXPECT_EQ(host.log[0], "Encoding DVD: DISC ONE");
    EXPECT_NE(host.commandsRun[0].find(" dvd://1 -dvd-device \"" + dvd1 + "\"  -mc 0"),
              std::string::npos);
    for (const char* name :
         {"dvdout.mp4", "dvdout (2).mp4", "clip.mp4", "clip (2).mp4", "clip (3).mp4"}) {
        EXPECT_TRUE(FileExists(Out(name))) << name;
    }
    EXPECT_NE(std::find(host.log.begin(), host.log.end(),
                        "> dvdout.mp4 was written earlier in this run; writing dvdout (2).mp4 "
                        "instead."),
              host.log.end());
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "Encoding DVD: DISC TWO"), 1);
}

TEST_F(BatchRunTest, AnOutputNeverReplacesAFileThatIsThere) {
    // The user's own files by the outputs' names: a file, a link that leads nowhere, and a
    // ".part" of somebody else's (a download in progress).
    std::ofstream(Out("holiday.mp4")) << "the user's holiday";
    symlink("/nonexistent", Out("link.mp4").c_str());
    std::ofstream(Out("download.mp4.part")) << "half a download";
    host.Queue(tools.Source("holiday.avi"));
    host.Queue(tools.Source("link.avi"));
    host.Queue(tools.Source("download.avi"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines(3, "done"));
    EXPECT_EQ(ReadFile(Out("holiday.mp4")), "the user's holiday");
    EXPECT_EQ(ReadFile(Out("download.mp4.part")), "half a download");
    EXPECT_FALSE(FileExists(Out("download.mp4")));
    for (const char* line : {"> holiday.mp4 already exists; writing holiday (2).mp4 instead.",
                             "> link.mp4 already exists; writing link (2).mp4 instead.",
                             "> download.mp4.part already exists; writing download (2).mp4 "
                             "instead."}) {
        EXPECT_NE(std::find(host.log.begin(), host.log.end(), line), host.log.end()) << line;
    }
    for (const char* name : {"holiday (2).mp4", "link (2).mp4", "download (2).mp4"}) {
        EXPECT_EQ(ReadFile(Out(name)), "MP4Box.exe\n") << name;
    }
}

TEST_F(BatchRunTest, AFileThatAppearsWhileTheJobRunsIsNotReplaced) {
    host.Queue(tools.Source("clip.avi"));
    host.afterStage = [this](FakeHost&, const std::string& line, int) {
        if (line.find("MP4Box.exe") != std::string::npos) {
            std::ofstream(Out("clip.mp4")) << "saved meanwhile";
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"done"});
    EXPECT_EQ(ReadFile(Out("clip.mp4")), "saved meanwhile");
    EXPECT_EQ(ReadFile(Out("clip (2).mp4")), "MP4Box.exe\n");
    EXPECT_FALSE(FileExists(Out("clip.mp4.part")));
    const Lines tail(host.log.end() - 2, host.log.end());
    EXPECT_EQ(tail,
              (Lines{"> clip.mp4 already exists; writing clip (2).mp4 instead.", "> Finished!"}));
}

TEST_F(BatchRunTest, NothingIncompleteEverGetsTheOutputsName) {
    // The merge writes part of its file and fails; in MKV output the last merge does.
    for (const int format : {0, 1}) {
        SCOPED_TRACE(format ? "mkv" : "mp4");
        StandInTools local;
        FakeHost run;
        run.Use(local);
        run.settings.OutputFormat = format;
        const char* slot = format ? "mkvmerge.exe" : "MP4Box.exe";
        local.Behave(slot,
                     "case \"$*\" in *first*) printf half > \"$out\"; write=0; code=1;; esac");
        run.Queue(local.Source("first.avi"));
        run.Queue(local.Source("second.avi"));
        const std::string ext = format ? ".mkv" : ".mp4";
        const std::string part = local.OutputFolder() + "first" + ext + ".part";
        run.afterStage = [&](FakeHost& h, const std::string& line, int result) {
            if (line.find("second.avi") != std::string::npos && line.find("pass=1") != npos) {
                // Until a later job completes, the failed one's piece stays, under its own name.
                EXPECT_EQ(ReadFile(part), "half");
                EXPECT_EQ(h.Statuses(), (Lines{"error", "encoding"}));
            }
            (void)result;
        };
        RunBatch(run);
        EXPECT_EQ(run.Statuses(), (Lines{"error", "done"}));
        EXPECT_FALSE(FileExists(local.OutputFolder() + "first" + ext));
        EXPECT_FALSE(FileExists(part));
        EXPECT_TRUE(FileExists(local.OutputFolder() + "second" + ext));
    }
}

TEST_F(BatchRunTest, StopDuringTheMergeLeavesNoOutput) {
    tools.Behave("MP4Box.exe", "printf half > \"$out\"; write=0; progress='merging'; delay=30.647");
    host.Queue(tools.Source("clip.avi"));
    host.onProgress = [](FakeHost& h, const std::string& text) { h.stop = text == "merging"; };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"ready"});
    EXPECT_FALSE(FileExists(Out("clip.mp4")));
    EXPECT_EQ(ReadFile(Out("clip.mp4.part")), "half");
    EXPECT_EQ(host.log.back(), ">> Stopped.");
}

TEST_F(BatchRunTest, AStoppedToolIsGoneWhenTheRunEnds) {
    // The tool's own helper (the stand-in's sleep) must be gone too, at once.
    tools.Behave("mencoder.exe", "echo $$ > \"$STANDIN_DIR/group\"; progress='working'; delay=30");
    for (int attempt = 0; attempt < 10; ++attempt) {
        FakeHost run;
        run.Use(tools);
        run.Queue(tools.Source("a.avi"));
        run.onProgress = [](FakeHost& h, const std::string& text) { h.stop = text == "working"; };
        RunBatch(run);
        const pid_t group = static_cast<pid_t>(std::stol(ReadFile(tools.Root() + "/group")));
        ASSERT_EQ(run.Statuses(), Lines{"ready"});
        EXPECT_FALSE(GroupHasLiveMembers(group)) << "attempt " << attempt;
    }
}

TEST_F(BatchRunTest, AFailedStageSaysWhy) {
    struct Case {
        const char* name;
        const char* slot;
        std::string behaviour;
        std::string failedLine;
        std::string reason;  // after ">> "; the work folder stands as WORK
    };
    const Case cases[] = {
        {"the tool's own word", "mencoder.exe",
         "printf 'mencoder.exe: no video stream in song.mp3\\n'; code=1",
         "> Running video analysis... error #1", "mencoder.exe: no video stream in song.mp3"},
        {"its last line otherwise", "mplayer.exe",
         "printf 'Cannot open file\\n'; progress=''; code=1",
         "> Running audio extracting... error #1", "Cannot open file"},
        {"a full disk", "enhAacPlusEnc.exe",
         "printf 'enhAacPlusEnc.exe: cannot write: No space left on device\\n'; code=1",
         "> Running audio encoding... error #1", "No space left on device (WORK)"},
        {"nothing said", "MP4Box.exe", "progress=''; code=3",
         "> Merging audio and video to MP4... error #3",
         "MP4Box.exe ended with code 3 and said nothing."},
        {"a missing tool", "MP4Box.exe", "", "> Merging audio and video to MP4... error #2",
         "MP4Box.exe cannot be started: No such file or directory (APPMP4Box.exe)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInTools local;
        FakeHost run;
        run.Use(local);
        if (c.behaviour.empty()) {
            unlink((local.AppDir() + c.slot).c_str());
        } else {
            local.Behave(c.slot, c.behaviour);
        }
        run.Queue(local.Source("a.avi"));
        RunBatch(run);
        ASSERT_GE(run.log.size(), 2u);
        std::string reason = c.reason;
        for (const auto& [mark, value] :
             {std::pair<std::string, std::string>{"WORK", local.WorkFolder()},
              {"APP", local.AppDir()}}) {
            if (const size_t at = reason.find(mark); at != std::string::npos) {
                reason.replace(at, mark.size(), value);
            }
        }
        EXPECT_EQ(run.log[run.log.size() - 2], c.failedLine);
        EXPECT_EQ(run.log.back(), ">> " + reason);
        EXPECT_EQ(run.Statuses(), Lines{"error"});
    }
}

TEST_F(BatchRunTest, OneRunAtATimeOnAWorkFolder) {
    host.Queue(tools.Source("a.avi"));
    ASSERT_EQ(PrepareWorkFolder(tools.WorkFolder()), "");
    {
        WorkFolderLock other;  // another window's run
        ASSERT_EQ(other.Take(tools.WorkFolder()), "");
        RunBatch(host);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], "Another Quintaro run is using the work folder \"" +
                                      tools.WorkFolder() + "\"; start again when it has ended.");
        EXPECT_EQ(host.log, Lines{"Error: " + host.errors[0]});
        EXPECT_EQ(host.Statuses(), Lines{"ready"});
        EXPECT_TRUE(tools.Calls().empty());
        EXPECT_FALSE(host.running);
    }
    // A program that died holding the lock leaves none behind.
    const std::string lockFile = tools.WorkFolder() + "run.lock";
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT, 0600);
        flock(fd, LOCK_EX);
        raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    host.log.clear();
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"done"});
    EXPECT_EQ(host.errors.size(), 1u);
}

TEST_F(BatchRunTest, AJobNeverOverwritesItsOwnSource) {
    const std::string own = Out("clip.mp4");
    std::ofstream(own) << "precious";
    host.Queue(own);
    host.Queue(tools.Source("next.avi"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"error", "done"}));
    EXPECT_EQ(ReadFile(own), "precious");
    EXPECT_EQ(host.log[0], "Encoding: clip.mp4");
    EXPECT_EQ(host.log[1],
              ">> The output clip.mp4 is the source file itself; choose another output folder or "
              "format.");
    EXPECT_EQ(host.commandsRun.front().find("clip.mp4"), std::string::npos);

    // MKV output of the same source is fine.
    host.entries[0].status = "ready";
    host.settings.OutputFormat = 1;
    host.log.clear();
    RunBatch(host);
    EXPECT_EQ(host.entries[0].status, "done");
    EXPECT_TRUE(FileExists(Out("clip.mkv")));
    EXPECT_EQ(ReadFile(own), "precious");
}

TEST_F(BatchRunTest, AQueuedSourceIsNeverOverwrittenByAnotherJob) {
    const std::string waiting = Out("clip.mp4");
    std::ofstream(waiting) << "precious";
    host.Queue(tools.Source("clip.avi"));
    host.Queue(waiting);
    host.settings.OutputFormat = 0;
    RunBatch(host);
    EXPECT_EQ(ReadFile(waiting), "precious");
    EXPECT_EQ(ReadFile(Out("clip (2).mp4")), "MP4Box.exe\n");
    EXPECT_EQ(host.log[1], "> clip.mp4 is queued as a source; writing clip (2).mp4 instead.");
    // The waiting file's own MP4 output would be itself.
    EXPECT_EQ(host.Statuses(), (Lines{"done", "error"}));
}

TEST_F(BatchRunTest, AnOutputWrittenThroughAnotherPathIsStillNotOverwritten) {
    const std::string link = tools.Root() + "/linked-out";
    ASSERT_EQ(symlink(tools.OutputFolder().c_str(), link.c_str()), 0);
    host.Queue(tools.Source("clip.avi"));
    mkdir((tools.Root() + "/src/other").c_str(), 0755);
    host.Queue(tools.Source("other/clip.avi"));
    // The folder is read when each job starts: the second job names it through the link.
    host.afterStage = [&link](FakeHost& h, const std::string& line, int) {
        if (line.find("MP4Box.exe") != std::string::npos) {
            h.settings.OutputFolder = link + "//";
        }
    };
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), (Lines{"done", "done"}));
    EXPECT_TRUE(FileExists(Out("clip.mp4")));
    EXPECT_TRUE(FileExists(Out("clip (2).mp4")));
}

TEST_F(BatchRunTest, PathsTheToolsCannotBeGivenAreRefused) {
    // An output folder with a double quote fails each job, before any tool runs.
    const std::string quoted = tools.Root() + "/say \"hi\"";
    mkdir(quoted.c_str(), 0755);
    host.settings.OutputFolder = quoted;
    host.Queue(tools.Source("a.avi"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"error"});
    EXPECT_EQ(host.log, (Lines{"Encoding: a.avi",
                               ">> The output folder holds a double quote, which the tools cannot "
                               "be given; choose another output folder."}));
    EXPECT_TRUE(tools.Calls().empty());

    // A work folder with a blank is not used; the run reports it like any unusable one.
    for (const std::string& temp :
         {tools.Root() + "/my temp", tools.Root() + "/tab\there", tools.Root() + "/a,b"}) {
        SCOPED_TRACE(temp);
        mkdir(temp.c_str(), 0700);
        setenv("TEMP", temp.c_str(), 1);
        host.entries[0].status = "ready";
        host.settings.OutputFolder = tools.OutputFolder();
        host.log.clear();
        host.errors.clear();
        RunBatch(host);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], "The work folder \"" + temp +
                                      "/tarnok\" holds a blank, a comma or a double quote, "
                                      "which the tools cannot be given; set TEMP to another "
                                      "folder.");
        EXPECT_EQ(host.log, Lines{"Error: " + host.errors[0]});
        EXPECT_EQ(host.Statuses(), Lines{"ready"});
        EXPECT_FALSE(FileExists(temp + "/tarnok"));
        EXPECT_TRUE(tools.Calls().empty());
    }
}

TEST_F(BatchRunTest, AVideoLineInTwoReadsGivesItsWholeFrameRate) {
    tools.Behave("mencoder.exe",
                 "case \"$*\" in *pass=1*) printf 'VIDEO:  [H264]  640x360  24bpp  5'; sleep 0.3; "
                 "printf '9.940 fps  1200.0 kbps\\n'; video_line='';; esac");
    host.Queue(tools.Source("a.avi"));
    RunBatch(host);
    EXPECT_EQ(host.Statuses(), Lines{"done"});
    ASSERT_FALSE(host.commandsRun.empty());
    EXPECT_NE(host.commandsRun.back().find(" -fps 59.940 -new "), npos) << host.commandsRun.back();
}

TEST_F(BatchRunTest, NoFrameRateFailsTheJob) {
    const std::string lines[] = {"video_line=''", "video_line='VIDEO: [FMP4] 320x240'"};
    for (const std::string& behaviour : lines) {
        SCOPED_TRACE(behaviour);
        StandInTools local;
        FakeHost run;
        run.Use(local);
        local.Behave("mencoder.exe", behaviour);
        run.Queue(local.Source("a.avi"));
        RunBatch(run);
        EXPECT_EQ(run.Statuses(), Lines{"error"});
        EXPECT_EQ(run.log, (Lines{"Encoding: a.avi", "> Running video analysis... done.",
                                  ">> No frame rate in the video analysis output."}));
    }
}

TEST_F(BatchRunTest, MpegStyleFrameRateWordIsPassedOn) {
    tools.Behave("mencoder.exe", "video_line='VIDEO:  MPEG2  352x288  (aspect 1)  25.000 fps'");
    host.Queue(tools.Source("a.mpg"));
    RunBatch(host);
    ASSERT_GE(host.commandsRun.size(), 5u);
    EXPECT_NE(host.commandsRun[4].find(" -fps 1) -new "), std::string::npos);
}

TEST_F(BatchRunTest, UnusableWorkFolderIsReported) {
    mkdir((tools.Root() + "/elsewhere").c_str(), 0700);
    symlink((tools.Root() + "/elsewhere").c_str(), (tools.Root() + "/temp/tarnok").c_str());
    host.Queue(tools.Source("a.avi"));
    RunBatch(host);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(host.errors[0].find("symbolic link"), std::string::npos);
    EXPECT_EQ(host.log, Lines{"Error: " + host.errors[0]});
    EXPECT_EQ(host.Statuses(), Lines{"ready"});
    EXPECT_FALSE(host.running);
    EXPECT_EQ(host.buttonChanges, 2);
    EXPECT_TRUE(tools.Calls().empty());
    ASSERT_EQ(host.summaries.size(), 1u);
    EXPECT_FALSE(host.summaries[0].queueFinished);
}

TEST(WorkFolder, ComesFromTempOrTheCacheFolder) {
    const char* names[] = {"TEMP", "XDG_CACHE_HOME", "HOME"};
    std::vector<std::pair<bool, std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back({value != nullptr, value ? value : ""});
    }
    setenv("TEMP", "/t", 1);
    EXPECT_EQ(WorkFolderPath(), "/t/tarnok/");
    unsetenv("TEMP");
    setenv("XDG_CACHE_HOME", "/c", 1);
    EXPECT_EQ(WorkFolderPath(), "/c/tarnok/");
    unsetenv("XDG_CACHE_HOME");
    setenv("HOME", "/h", 1);
    EXPECT_EQ(WorkFolderPath(), "/h/.cache/tarnok/");
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i].first) {
            setenv(names[i], saved[i].second.c_str(), 1);
        } else {
            unsetenv(names[i]);
        }
    }
}

TEST(WorkFolder, IsMadePrivateAndRefusedWhenNotAFolder) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    const std::string folder = root + "/tarnok/";
    EXPECT_EQ(PrepareWorkFolder(folder), "");
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(PrepareWorkFolder(folder), "");
    struct stat info;
    stat(folder.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    std::ofstream(root + "/file") << "x";
    setenv("TEMP", root.c_str(), 1);  // under TEMP only the last folder level is made
    EXPECT_NE(PrepareWorkFolder(root + "/file/").find("is not a folder"), std::string::npos);
    EXPECT_NE(PrepareWorkFolder(root + "/missing/parent/tarnok/").find("Cannot create"),
              std::string::npos);
}
