// Real encodes: clips made with ffmpeg, queued in the window and encoded with the real tool
// slots by pressing Start.
#include <signal.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "../app/AppTestSupport.h"
#include "../batch/BatchFixture.h"
#include "../tools/ToolTestSupport.h"

namespace fs = std::filesystem;
using tooltest::Clip;
using tooltest::MediaInfo;
using tooltest::Probe;

namespace {

double Rate(const std::string& fraction) {
    const size_t slash = fraction.find('/');
    const double denominator =
        slash == std::string::npos ? 1 : std::strtod(fraction.c_str() + slash + 1, nullptr);
    return denominator > 0 ? std::strtod(fraction.c_str(), nullptr) / denominator : 0;
}

// Frames over frame rate: container durations of ASF and AVI sources include audio preroll. For a
// source whose pictures come at a variable rate, its time stamps.
double Duration(const MediaInfo& info) {
    if (info.nominalDuration > 0 && info.duration > 0 &&
        std::fabs(info.nominalDuration - info.duration) > 0.1 * info.duration) {
        return info.duration;
    }
    return info.nominalDuration > 0 ? info.nominalDuration : info.duration;
}

class EncodeTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        Window->AppDir = std::string(QUINTARO_BIN_DIR) + "/";
        fs::create_directories(Sources());
        fs::create_directories(Outputs());
        fs::create_directories(TempPath("temp"));
        const char* temp = std::getenv("TEMP");
        savedTemp_ = temp ? std::optional<std::string>(temp) : std::nullopt;
        setenv("TEMP", TempPath("temp").c_str(), 1);
        Window->txtOutput->setText(QString::fromStdString(Outputs()));
    }

    void TearDown() override {
        if (savedTemp_) {
            setenv("TEMP", savedTemp_->c_str(), 1);
        } else {
            unsetenv("TEMP");
        }
    }

    std::string Sources() const { return TempPath("sources"); }
    std::string Outputs() const { return TempPath("out"); }
    std::string Output(const std::string& name) const { return Outputs() + "/" + name; }

    // Copies a generated clip (or DVD folder) under a name of the test's choosing and queues it
    // as a drop onto the queue would.
    std::string Queue(const std::string& kind, const std::string& name) {
        const std::string path = Sources() + "/" + name;
        fs::copy(Clip(kind), path, fs::copy_options::recursive);
        const size_t before = Window->QueuedPaths.size();
        Window->HandleDroppedFiles({path});
        EXPECT_EQ(Window->QueuedPaths.size(), before + 1) << path;
        return path;
    }

    void Start() { Window->btnStart->click(); }

    void Check(QCheckBox* box) { box->setChecked(true); }

    // The output is H.264 High profile (with AAC when the source has audio) and follows the
    // source: the rate a player expects (the source's own when it is constant), a picture that
    // lasts as long as the source's and keeps the shape it is shown in, a clean decode, and a
    // picture that tracks the source's, paired by time stamps.
    void ExpectFollowsSource(const std::string& output, const std::string& source, bool audio,
                             const std::string& rate = "") {
        SCOPED_TRACE(output);
        ASSERT_TRUE(fs::exists(output));
        const MediaInfo out = Probe(output);
        const MediaInfo in = Probe(source);
        EXPECT_EQ(out.videoCodec, "h264");
        EXPECT_EQ(out.profile, "High");
        EXPECT_EQ(out.audioCodec, audio ? "aac" : "");
        if (rate.empty()) {
            EXPECT_NEAR(Rate(out.frameRate), Rate(in.frameRate), 0.01);
            EXPECT_NEAR(static_cast<double>(out.frames), static_cast<double>(in.frames),
                        0.02 * static_cast<double>(in.frames) + 1);
        } else {
            EXPECT_EQ(out.frameRate, rate);
        }
        EXPECT_NEAR(Duration(out), Duration(in), 0.02 * Duration(in) + 0.1);
        EXPECT_NEAR(out.displayAspect, in.displayAspect, 0.02 * in.displayAspect);
        EXPECT_TRUE(tooltest::DecodesCleanly(output));
        const bool turned = in.rotation % 180 != 0;
        EXPECT_GE(tooltest::Psnr(output, source, rate.empty() ? in.frameRate : rate,
                                 turned ? in.height : in.width, turned ? in.width : in.height),
                  20.0);
    }

    // In MP4 and MKV alike: the beeps start within 45 ms of the flashes.
    void ExpectLipSync(const std::string& output) {
        SCOPED_TRACE(output);
        const std::vector<double> flashes = tooltest::FlashStarts(output);
        const std::vector<double> beeps = tooltest::BeepStarts(output);
        ASSERT_GE(flashes.size(), 2u);
        ASSERT_GE(beeps.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_NEAR(beeps[i], flashes[i], 0.045) << i;
        }
    }

    bool LogHas(const std::string& tail) const {
        for (const std::string& line : Window->LogLines()) {
            if (EndsWith(line, tail)) {
                return true;
            }
        }
        return false;
    }

  private:
    std::optional<std::string> savedTemp_;
};

}  // namespace

TEST_F(EncodeTest, EveryKindOfSourceEncodesAndBadOnesFail) {
    const std::string avi = Queue("avi", "clip avi.avi");
    const std::string mkv = Queue("mkv", "clip mkv.mkv");
    const std::string wav = Queue("wav", "sound only.wav");
    const std::string mp4 = Queue("mp4", "clip mp4.mp4");
    const std::string corrupt = Queue("corrupt", "broken.avi");
    const std::string ogm = Queue("ogm", "clip ogm.ogm");
    const std::string wmv = Queue("wmv", "clip wmv.wmv");
    const std::string mpg = Queue("mpg", "clip mpg.mpg");
    const std::string dvd = Queue("dvd", "MY DVD");
    const std::string silent = Queue("noaudio", "silent.avi");
    const std::string odd = Queue("avi", "-odd $name `with` ünïcode.avi");
    Start();

    EXPECT_EQ(Statuses(),
              (std::vector<std::string>{"done", "done", "error", "done", "error", "done", "done",
                                        "done", "done", "done", "done", ""}));
    EXPECT_TRUE(LogHas("] >> Errors in source. File is corrupt."));
    EXPECT_TRUE(LogHas("] > Running video analysis... error #-2"));
    EXPECT_TRUE(LogHas("] Encoding DVD: MY DVD"));
    EXPECT_TRUE(LogHas("] > Converting to Matroska... done!"));
    EXPECT_TRUE(LogHas("] > Merging video to MP4... done."));  // the silent source
    // The audio-only source fails its analysis pass as an ordinary error, and the run goes on.
    const std::vector<std::string> log = Window->LogLines();
    const auto wavJob = std::find_if(log.begin(), log.end(), [](const std::string& line) {
        return EndsWith(line, "] Encoding: sound only.wav");
    });
    ASSERT_GE(std::distance(wavJob, log.end()), 4) << "no log of the audio-only source";
    EXPECT_TRUE(EndsWith(*(wavJob + 1), "] > Running video analysis... error #1")) << *(wavJob + 1);
    EXPECT_TRUE(EndsWith(*(wavJob + 2), "] >> mencoder.exe: no video stream in sound only.wav"))
        << *(wavJob + 2);
    EXPECT_TRUE(EndsWith(*(wavJob + 3), "] Encoding: clip mp4.mp4")) << *(wavJob + 3);

    ExpectFollowsSource(Output("clip avi.mp4"), avi, true);
    ExpectFollowsSource(Output("clip mkv.mp4"), mkv, true);
    ExpectFollowsSource(Output("clip mp4.mp4"), mp4, true);
    ExpectFollowsSource(Output("clip ogm.mp4"), ogm, true);
    ExpectFollowsSource(Output("clip wmv.mp4"), wmv, true);
    ExpectFollowsSource(Output("clip mpg.mp4"), mpg, true);
    ExpectFollowsSource(Output("dvdout.mp4"), Clip("dvdsource"), true);
    ExpectFollowsSource(Output("silent.mp4"), silent, false);
    ExpectFollowsSource(Output("-odd $name `with` ünïcode.mp4"), odd, true);
    EXPECT_FALSE(fs::exists(Output("sound only.mp4")));
    EXPECT_FALSE(fs::exists(Output("broken.mp4")));

    // Nothing of the run is left behind but the outputs.
    for (const char* name : {"video.264", "audio.wav", "audio.mp4", "source.mkv", "divx2pass.log",
                             "divx2pass.log.mbtree"}) {
        EXPECT_FALSE(fs::exists(TempPath("temp/tarnok/") + name)) << name;
    }
    EXPECT_FALSE(fs::exists(Output("divx2pass.log")));
}

TEST_F(EncodeTest, MkvOutput) {
    const std::string mkv = Queue("mkv", "to matroska.mkv");
    Window->cboOutput->setCurrentIndex(1);
    Start();
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", ""}));
    EXPECT_TRUE(LogHas("] > Merging temporary MP4 to final MKV... done."));
    ExpectFollowsSource(Output("to matroska.mkv"), mkv, true);
    EXPECT_FALSE(fs::exists(TempPath("temp/tarnok/tempout.mp4")));
}

TEST_F(EncodeTest, EveryFilterWithEachFrameItem) {
    for (int frame : {0, 1}) {
        SCOPED_TRACE(frame);
        const std::string name = "filtered " + std::to_string(frame);
        const std::string avi = Queue("avi", name + ".avi");
        for (QCheckBox* box : {Window->chkDeInt, Window->chkFResize, Window->chkFDenoise,
                               Window->chkFSharpen, Window->chkFPP, Window->chkFLevel}) {
            Check(box);
        }
        Window->cboFDeInt->setCurrentIndex(frame);
        Window->cboFResize->setCurrentText("320:240");
        Start();
        EXPECT_EQ(Window->RowStatus(Window->QueueRowCount() - 2), "done");
        ExpectFollowsSource(Output(name + ".mp4"), avi, true);
        EXPECT_EQ(Probe(Output(name + ".mp4")).width, 320);
    }
}

TEST_F(EncodeTest, AudioSettings) {
    const std::string resampled = Queue("avi", "resampled.avi");
    Check(Window->chkFSample);
    Window->cboFSample->setCurrentIndex(1);
    Start();
    ExpectFollowsSource(Output("resampled.mp4"), resampled, true);
    EXPECT_EQ(Probe(Output("resampled.mp4")).sampleRate, 48000);
    EXPECT_EQ(Probe(Output("resampled.mp4")).channels, 2);

    const std::string mono = Queue("avi", "mono he.avi");
    Window->chkFSample->setChecked(false);
    Window->chkStereo->setChecked(false);
    Window->cboAQuality->setCurrentIndex(4);
    Start();
    ExpectFollowsSource(Output("mono he.mp4"), mono, true);
    EXPECT_EQ(Probe(Output("mono he.mp4")).channels, 1);
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", "done", ""}));
}

TEST_F(EncodeTest, StopDuringTheEncodingPassLeavesNoToolRunning) {
    // Long enough that the encoding pass is still running when Stop is pressed.
    const std::string source = Sources() + "/long clip.avi";
    ASSERT_EQ(tooltest::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                             "testsrc=size=640x480:rate=25:duration=60", "-c:v", "mpeg4", "-q:v",
                             "5", source})
                  .exitCode,
              0);
    Window->AddQueueEntry(source);
    auto* timer = new QTimer(Window.get());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [this, timer] {
        const std::vector<std::string> log = Window->LogLines();
        if (!log.empty() && EndsWith(log.back(), "> Running video encoding...") &&
            !Window->txtLogEncoder->text().isEmpty()) {
            timer->stop();
            Window->btnStop->click();
        }
    });
    timer->start();
    Start();

    EXPECT_EQ(Statuses(), (std::vector<std::string>{"ready", ""}));
    const std::vector<std::string> log = Window->LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_TRUE(EndsWith(log[log.size() - 2], "> Running video encoding... error #-1"));
    EXPECT_TRUE(EndsWith(log.back(), "] >> Stopped."));
    // No tool of the job is left: every one of them had the source or the work folder in its
    // command line.
    EXPECT_TRUE(tooltest::WaitFor(
        [&] {
            return tooltest::Run({"pgrep", "-f", TempPath("")}).exitCode == 1;
        },
        10));
}

// The sources people have today, the new ones among them, to MP4 and to MKV.
TEST_F(EncodeTest, TodaysSourcesComeOutRight) {
    for (int format : {0, 1}) {
        SCOPED_TRACE(format);
        const std::string ext = format == 0 ? ".mp4" : ".mkv";
        const std::string tag = format == 0 ? " mp4" : " mkv";
        const std::string phone = Queue("phone", "phone" + tag + ".mp4");
        const std::string vfr = Queue("vfr", "recording" + tag + ".mkv");
        const std::string flash = Queue("flash", "flashes" + tag + ".mp4");
        const std::string hevc = Queue("hevc10", "hevc" + tag + ".mkv");
        const std::string dv = Queue("dv", "camera" + tag + ".avi");
        const std::string two = Queue("mkv2", "two tracks" + tag + ".mkv");
        std::string ac3, av1, pcm, dvd43, ogm, longName;
        if (format == 0) {
            ac3 = Queue("ac3", "surround.mkv");
            av1 = Queue("av1", "av1.mkv");
            pcm = Queue("pcmavi", "pcm.avi");
            dvd43 = Queue("dvd43", "OLD DVD");
            ogm = Queue("ogm", "upper.OGM");
            longName = Queue("avi", std::string(200, 'n') + " '$(x)' `id`.avi");
        }
        Window->cboOutput->setCurrentIndex(format);
        Start();
        for (const std::string& status : Statuses()) {
            EXPECT_TRUE(status == "done" || status.empty()) << status;
        }
        ExpectFollowsSource(Output("phone" + tag + ext), phone, true, "60/1");
        EXPECT_LT(Probe(Output("phone" + tag + ext)).displayAspect, 1.0) << "portrait stays";
        ExpectFollowsSource(Output("recording" + tag + ext), vfr, true, "30/1");
        ExpectFollowsSource(Output("flashes" + tag + ext), flash, true);
        ExpectLipSync(Output("flashes" + tag + ext));
        ExpectFollowsSource(Output("hevc" + tag + ext), hevc, true);
        EXPECT_EQ(Probe(Output("hevc" + tag + ext)).pixelFormat, "yuv420p");
        ExpectFollowsSource(Output("camera" + tag + ext), dv, true);
        ExpectFollowsSource(Output("two tracks" + tag + ext), two, true);
        // The first audio track, the one with the tone, is the one used.
        EXPECT_GT(tooltest::MeanVolume(Output("two tracks" + tag + ext)), -40.0);
        if (format == 0) {
            ExpectFollowsSource(Output("surround.mp4"), ac3, true);
            // Downmixed to stereo with the centre channel kept.
            EXPECT_EQ(Probe(Output("surround.mp4")).channels, 2);
            EXPECT_GT(tooltest::MeanVolume(Output("surround.mp4")), -40.0);
            ExpectFollowsSource(Output("av1.mp4"), av1, true);
            ExpectFollowsSource(Output("pcm.mp4"), pcm, true);
            ExpectFollowsSource(Output("dvdout.mp4"), Clip("dvdsource43"), true);
            EXPECT_NEAR(Probe(Output("dvdout.mp4")).displayAspect, 4.0 / 3.0, 0.03);
            ExpectFollowsSource(Output("upper.mp4"), ogm, true);
            ExpectFollowsSource(Output(std::string(200, 'n') + " '$(x)' `id`.mp4"), longName, true);
        }
    }
}

// Telecined film: "Deinterlace" (pullup) gives back the film's 23.976, "IVTC" (kerndeint) keeps
// 29.97; both last as long as the source.
TEST_F(EncodeTest, TelecinedFilmWithEachFrameItem) {
    for (int frame : {1, 0}) {
        SCOPED_TRACE(frame);
        const std::string name = "film " + std::to_string(frame);
        const std::string film = Queue("telecine", name + ".mpg");
        Check(Window->chkDeInt);
        Window->cboFDeInt->setCurrentIndex(frame);
        Start();
        EXPECT_EQ(Window->RowStatus(Window->QueueRowCount() - 2), "done");
        const MediaInfo out = Probe(Output(name + ".mp4"));
        EXPECT_EQ(out.frameRate, frame == 1 ? "24000/1001" : "30000/1001");
        EXPECT_NEAR(out.duration, Probe(film).duration, 0.02 * 3 + 0.1);
    }
}
