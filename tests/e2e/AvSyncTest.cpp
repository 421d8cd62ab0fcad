// Lip sync through a whole job in the window: a clip whose picture flashes exactly when it
// beeps, encoded with the real tool slots, keeps each beep on its flash in MP4 and MKV output.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "../app/AppTestSupport.h"
#include "../tools/ToolTestSupport.h"

namespace fs = std::filesystem;

namespace {

// Within what a viewer takes for lip sync.
constexpr double kSyncTolerance = 0.045;

class AvSyncTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        Window->AppDir = std::string(QUINTARO_BIN_DIR) + "/";
        fs::create_directories(TempPath("out"));
        fs::create_directories(TempPath("temp"));
        const char* temp = std::getenv("TEMP");
        savedTemp_ = temp ? std::optional<std::string>(temp) : std::nullopt;
        setenv("TEMP", TempPath("temp").c_str(), 1);
        Window->txtOutput->setText(QString::fromStdString(TempPath("out")));
    }

    void TearDown() override {
        if (savedTemp_) {
            setenv("TEMP", savedTemp_->c_str(), 1);
        } else {
            unsetenv("TEMP");
        }
    }

    // Two white frames and a 20 ms beep at 1, 2 and 3 s of a black clip of 4 s, 25 fps, with
    // PCM sound so that the source itself is exactly in sync.
    std::string MakeFlashesAndBeeps() {
        const std::string clip = TempPath("flashes and beeps.avi");
        const tooltest::RunResult made = tooltest::Run(
            {"ffmpeg", "-nostdin", "-v", "error", "-y", "-filter_complex",
             "color=c=black:s=176x144:r=25:d=4[b];color=c=white:s=176x144:r=25:d=4[w];"
             "[b][w]overlay=enable='gte(t,0.5)*lt(mod(t,1),0.079)'[v];"
             "aevalsrc='if(gte(t,0.5)*lt(mod(t,1),0.02),0.8*sin(2*PI*3000*t),0)|"
             "if(gte(t,0.5)*lt(mod(t,1),0.02),0.8*sin(2*PI*3000*t),0)':s=44100:d=4[a]",
             "-map", "[v]", "-map", "[a]", "-c:v", "mpeg4", "-q:v", "2", "-c:a", "pcm_s16le",
             clip});
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return clip;
    }

    // Each beep against its flash.
    void ExpectInSync(const std::string& file, double tolerance) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(fs::exists(file));
        const std::vector<double> flashes = tooltest::FlashStarts(file);
        const std::vector<double> beeps = tooltest::BeepStarts(file);
        ASSERT_EQ(flashes.size(), 3u) << ::testing::PrintToString(flashes);
        ASSERT_EQ(beeps.size(), 3u) << ::testing::PrintToString(beeps);
        for (size_t i = 0; i < 3; ++i) {
            RecordProperty(
                fs::path(file).extension().string().substr(1) + "_offset_" + std::to_string(i + 1),
                std::to_string(beeps[i] - flashes[i]));
            EXPECT_NEAR(beeps[i], flashes[i], tolerance) << "beep " << i + 1;
        }
    }

  private:
    std::optional<std::string> savedTemp_;
};

}  // namespace

TEST_F(AvSyncTest, BeepsStayOnTheirFlashesInMp4AndMkv) {
    const std::string clip = MakeFlashesAndBeeps();
    ExpectInSync(clip, 0.005);
    for (int format : {0, 1}) {
        Window->cboOutput->setCurrentIndex(format);
        const size_t before = Window->QueuedPaths.size();
        Window->HandleDroppedFiles({clip});
        ASSERT_EQ(Window->QueuedPaths.size(), before + 1);
        Window->btnStart->click();
        ASSERT_EQ(Window->RowStatus(Window->QueueRowCount() - 2), "done");
        ExpectInSync(
            TempPath(format == 0 ? "out/flashes and beeps.mp4" : "out/flashes and beeps.mkv"),
            kSyncTolerance);
    }
}
