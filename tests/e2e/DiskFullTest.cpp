// A disk that fills up at any stage of a job, with the real tool slots: the stage fails and says
// so, nothing broken is left under the output's name, and nothing hangs.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>

#include "../batch/BatchFixture.h"
#include "../tools/ToolTestSupport.h"

namespace fs = std::filesystem;

namespace {

// A folder that can be made full on demand: a small tmpfs of its own where the tests may mount
// one (as root), else a file size limit that makes every later write fail, as a full disk would.
class FillableFolder {
  public:
    explicit FillableFolder(const std::string& path) : disk_(path, "16m") {}
    ~FillableFolder() { Release(); }
    bool Mounted() const { return disk_.Mounted(); }

    void Fill() {
        if (disk_.Mounted()) {
            disk_.LeaveFree(0);
        } else {
            getrlimit(RLIMIT_FSIZE, &saved_);
            signal(SIGXFSZ, SIG_IGN);
            const struct rlimit none = {1, saved_.rlim_max};
            setrlimit(RLIMIT_FSIZE, &none);
            limited_ = true;
        }
    }
    void Release() {
        disk_.Empty();
        if (limited_) {
            setrlimit(RLIMIT_FSIZE, &saved_);
            signal(SIGXFSZ, SIG_DFL);
            limited_ = false;
        }
    }

  private:
    tooltest::SmallDisk disk_;
    bool limited_ = false;
    struct rlimit saved_ {};
};

struct FullCase {
    const char* name;
    int format;           // 0 MP4, 1 MKV
    int stagesBefore;     // stages that run before the disk fills
    bool outputFolder;    // the output folder fills, not the work folder
    std::string caption;  // of the stage that meets the full disk
};

void PrintTo(const FullCase& c, std::ostream* os) {
    *os << c.name;
}

class DiskFull : public testing::TestWithParam<FullCase> {};

TEST_P(DiskFull, TheStageFailsAndSaysSoAndNothingBrokenIsLeft) {
    const FullCase& c = GetParam();
    QTemporaryDir root;
    const std::string temp = root.path().toStdString() + "/temp";
    const std::string out = root.path().toStdString() + "/out/";
    fs::create_directories(temp);
    FillableFolder work(temp + "/tarnok");
    FillableFolder output(out);
    FillableFolder& full = c.outputFolder ? output : work;
    const char* savedTemp = std::getenv("TEMP");
    const std::string keptTemp = savedTemp ? savedTemp : "";
    setenv("TEMP", temp.c_str(), 1);

    FakeHost host;
    host.appDir = std::string(QUINTARO_BIN_DIR) + "/";
    host.settings.OutputFolder = out;
    host.settings.OutputFormat = c.format;
    const std::string source = root.path().toStdString() + "/clip.mp4";
    fs::copy(tooltest::Clip("mp4"), source);
    host.Queue(source);
    int stagesRun = 0;
    if (c.stagesBefore == 0) {
        full.Fill();
    }
    host.afterStage = [&](FakeHost&, const std::string&, int) {
        if (++stagesRun == c.stagesBefore) {
            full.Fill();
        }
    };
    RunBatch(host);
    full.Release();
    if (savedTemp) {
        setenv("TEMP", keptTemp.c_str(), 1);
    } else {
        unsetenv("TEMP");
    }

    EXPECT_EQ(host.Statuses(), std::vector<std::string>{"error"});
    ASSERT_GE(host.log.size(), 2u);
    const auto failed = std::find_if(host.log.begin(), host.log.end(), [](const std::string& l) {
        return l.find("... error #") != std::string::npos;
    });
    ASSERT_NE(failed, host.log.end()) << testing::PrintToString(host.log);
    EXPECT_EQ(failed->rfind(c.caption + " error #", 0), 0u) << *failed;
    ASSERT_NE(failed + 1, host.log.end());
    if (full.Mounted()) {
        EXPECT_EQ(*(failed + 1), ">> No space left on device (" +
                                     (c.outputFolder ? out : temp + "/tarnok/") + ")");
    } else {
        EXPECT_EQ((failed + 1)->rfind(">> ", 0), 0u) << *(failed + 1);
    }
    // Nothing under the output's name, finished or not.
    const std::string name = c.format ? "clip.mkv" : "clip.mp4";
    EXPECT_FALSE(fs::exists(out + name));
    EXPECT_FALSE(fs::exists(out + name + ".part"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryStage, DiskFull,
    testing::Values(FullCase{"AnalysisPass", 0, 0, false, "> Running video analysis..."},
                    FullCase{"EncodingPass", 0, 1, false, "> Running video encoding..."},
                    FullCase{"AudioExtraction", 0, 2, false, "> Running audio extracting..."},
                    FullCase{"AudioEncoding", 0, 3, false, "> Running audio encoding..."},
                    FullCase{"Mp4Merge", 0, 4, true, "> Merging audio and video to MP4..."},
                    FullCase{"TemporaryMp4Merge", 1, 4, false,
                             "> Merging audio and video to temporary MP4..."},
                    FullCase{"MkvMerge", 1, 5, true, "> Merging temporary MP4 to final MKV..."}),
    [](const testing::TestParamInfo<FullCase>& info) { return std::string(info.param.name); });

}  // namespace
