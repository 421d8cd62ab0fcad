#include <gtest/gtest.h>

#include "pipeline/CommandLines.h"

namespace {

const std::string kApp = "/opt/quintaro/";
const std::string kWork = "/tmp/tarnok/";
const std::string kSource = "/home/ann/My Videos/clip.avi";

EncodeSettings Defaults() {
    EncodeSettings s;
    s.OutputFolder = "/home/ann/out/";
    return s;
}

EncodeSettings AllFilters() {
    EncodeSettings s = Defaults();
    s.FrameOn = s.ResizeOn = s.DenoiseOn = s.SharpenOn = s.PostProcessing = s.FixLevels = true;
    return s;
}

}  // namespace

TEST(CommandLines, WorkedExamplesCharacterForCharacter) {
    const EncodeSettings s = Defaults();
    const std::string src = SourceArgument(kSource, SourceKind::File, kWork);
    const std::string out = OutputPath(s.OutputFolder, kSource, false, s.OutputFormat);
    std::string merge =
        AppendAudioPiece(ReplaceFps(Mp4MergeCommand(kApp, kWork, out, s), "25.000"), kWork);
    EncodeSettings mkv = s;
    mkv.OutputFormat = 1;
    struct Case {
        const char* stage;
        std::string actual;
        std::string expected;
    };
    const Case cases[] = {
        {"analysis pass", AnalysisPassCommand(kApp, kWork, src, s),
         "\"/opt/quintaro/mencoder.exe\" \"/home/ann/My Videos/clip.avi\"  -mc 0 -of rawvideo "
         "-ovc x264 -oac pcm -o /tmp/tarnok/video.264 -x264encopts "
         "deblock=1,1:bframes=5:frameref=5:threads=auto:b_pyramid:nofast_pskip:nopsnr:bitrate=268:"
         "pass=1:turbo=2 -vf harddup"},
        {"encoding pass", EncodingPassCommand(kApp, kWork, src, s),
         "\"/opt/quintaro/mencoder.exe\" \"/home/ann/My Videos/clip.avi\"  -mc 0 -of rawvideo "
         "-ovc x264 -oac pcm -o /tmp/tarnok/video.264 -x264encopts "
         "deblock=1,1:bframes=5:frameref=5:threads=auto:b_pyramid:nofast_pskip:nopsnr:bitrate=268:"
         "pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=6:brdo:trellis=1  "
         "-nosound  -vf harddup"},
        {"audio extraction", AudioExtractionCommand(kApp, kWork, src, s),
         "\"/opt/quintaro/mplayer.exe\" \"/home/ann/My Videos/clip.avi\"  -mc 0 "
         "-ao pcm:waveheader:fast:file=\"%21%/tmp/tarnok/audio.wav\" -vo null -vc null "
         "-af channels=2"},
        {"audio encoding", AudioEncodingCommand(kApp, kWork, s),
         "\"/opt/quintaro/enhAacPlusEnc.exe\" \"/tmp/tarnok/audio.wav\" "
         "\"/tmp/tarnok/audio.mp4\" --cbr 32000 "},
        {"MP4 merge as run", merge,
         "\"/opt/quintaro/MP4Box.exe\" -tmp \"/tmp/tarnok/\" -add /tmp/tarnok/video.264 "
         "-fps 25.000 -new \"/home/ann/out/clip.mp4\" -add \"/tmp/tarnok/audio.mp4\" "},
        {"MP4 merge for MKV output", Mp4MergeCommand(kApp, kWork, "/home/ann/out/clip.mkv", mkv),
         "\"/opt/quintaro/MP4Box.exe\" -tmp \"/tmp/tarnok/\" -add /tmp/tarnok/video.264 "
         "-fps [FPS] -new \"/tmp/tarnok/tempout.mp4\""},
        {"MKV merge", MkvMergeCommand(kApp, kWork, "/home/ann/out/clip.mkv"),
         "\"/opt/quintaro/mkv/mkvmerge.exe\" \"/tmp/tarnok/tempout.mp4\" -o "
         "\"/home/ann/out/clip.mkv\""},
        {"Matroska conversion", MatroskaConversionCommand(kApp, kWork, "/v/a.ogm"),
         "\"/opt/quintaro/mkv/mkvmerge.exe\" \"/v/a.ogm\" -o \"/tmp/tarnok/source.mkv\""},
        {"merge without audio", ReplaceFps(Mp4MergeCommand(kApp, kWork, out, s), "23.976"),
         "\"/opt/quintaro/MP4Box.exe\" -tmp \"/tmp/tarnok/\" -add /tmp/tarnok/video.264 "
         "-fps 23.976 -new \"/home/ann/out/clip.mp4\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.stage;
    }
}

TEST(CommandLines, FilterChainOrderAndEdges) {
    struct Case {
        const char* name;
        EncodeSettings settings;
        std::string expected;
    };
    std::vector<Case> cases;
    cases.push_back({"none", Defaults(), " -vf harddup"});
    EncodeSettings s = AllFilters();
    cases.push_back({"all, default items", s,
                     " -vf harddup,kerndeint,scale=640:480,hqdn3d=3:2:5,"
                     "unsharp=l5x5:0.5:c:5x5:0.5,fspp,pp=al:f"});
    s.FrameMode = 1;
    s.DenoiseLevel = 2;
    s.SharpenLevel = 1;
    s.ResizeTo = "1280:720";
    cases.push_back({"all, other items", s,
                     " -vf harddup,pullup,softskip,scale=1280:720,hqdn3d=5:4:7,"
                     "unsharp=l5x5:1:c:5x5:1,fspp,pp=al:f"});
    s = Defaults();
    s.FixLevels = true;
    cases.push_back({"fix levels only", s, " -vf harddup,pp=al:f"});
    s = Defaults();
    s.PostProcessing = true;
    cases.push_back({"post processing only", s, " -vf harddup,fspp"});
    s = Defaults();
    s.ResizeOn = true;
    s.ResizeTo = "";
    cases.push_back({"empty resize", s, " -vf harddup,scale="});
    s.DenoiseOn = true;
    s.DenoiseLevel = 1;
    cases.push_back({"empty resize then denoise", s, " -vf harddup,scale=,hqdn3d=4:3:6"});
    s = Defaults();
    s.FrameMode = 1;  // a mode without the check box adds nothing
    s.SharpenOn = true;
    s.SharpenLevel = 2;
    cases.push_back({"sharpen high", s, " -vf harddup,unsharp=l5x5:1.5:c:5x5:1.5"});
    for (const Case& c : cases) {
        EXPECT_EQ(FilterChain(c.settings), c.expected) << c.name;
    }
}

TEST(CommandLines, AllFiltersEndBothPasses) {
    const EncodeSettings s = AllFilters();
    const std::string src = SourceArgument(kSource, SourceKind::File, kWork);
    const std::string chain =
        " -vf harddup,kerndeint,scale=640:480,hqdn3d=3:2:5,unsharp=l5x5:0.5:c:5x5:0.5,fspp,pp=al:f";
    for (const std::string& line :
         {AnalysisPassCommand(kApp, kWork, src, s), EncodingPassCommand(kApp, kWork, src, s)}) {
        ASSERT_GE(line.size(), chain.size());
        EXPECT_EQ(line.substr(line.size() - chain.size()), chain);
    }
    EXPECT_NE(EncodingPassCommand(kApp, kWork, src, s).find("trellis=1  -nosound  -vf harddup,"),
              std::string::npos);
}

TEST(CommandLines, PassVariants) {
    const std::string src = SourceArgument(kSource, SourceKind::File, kWork);
    EncodeSettings s = Defaults();
    s.VideoBitrate = "";
    EXPECT_NE(AnalysisPassCommand(kApp, kWork, src, s).find(":bitrate=:pass=1:turbo=2 -vf"),
              std::string::npos);
    EXPECT_NE(EncodingPassCommand(kApp, kWork, src, s).find(":bitrate=:pass=2:8x8dct"),
              std::string::npos);

    s = Defaults();
    s.VideoQuality = 1;
    EXPECT_EQ(AnalysisPassCommand(kApp, kWork, src, s),
              AnalysisPassCommand(kApp, kWork, src, Defaults()));
    EXPECT_NE(EncodingPassCommand(kApp, kWork, src, s)
                  .find(":pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=7:"
                        "brdo:trellis=2  -nosound  -vf harddup"),
              std::string::npos);

    for (int type : {2, 3, 4}) {
        s = Defaults();
        s.SourceType = type;
        EXPECT_NE(AnalysisPassCommand(kApp, kWork, src, s)
                      .find("-x264encopts " + SourceTypeText(type) + "threads=auto:"),
                  std::string::npos);
    }
    s = Defaults();
    s.SourceType = 2;
    EXPECT_NE(AnalysisPassCommand(kApp, kWork, src, s).find("deblock=-2,-1:"), std::string::npos);
    s.VideoBitrate = "12 34";
    EXPECT_NE(AnalysisPassCommand(kApp, kWork, src, s).find("bitrate=12 34:pass=1"),
              std::string::npos);
}

TEST(CommandLines, SourceArguments) {
    EXPECT_EQ(SourceArgument(kSource, SourceKind::File, kWork),
              "\"/home/ann/My Videos/clip.avi\" ");
    EXPECT_EQ(SourceArgument("/media/MY DVD", SourceKind::Dvd, kWork),
              "dvd://1 -dvd-device \"/media/MY DVD\" ");
    EXPECT_EQ(SourceArgument("/v/a.ogm", SourceKind::ConvertedOgm, kWork),
              "\"/tmp/tarnok/source.mkv\" ");
    const std::string dvd = SourceArgument("/media/DVD", SourceKind::Dvd, kWork);
    EXPECT_EQ(
        AnalysisPassCommand(kApp, kWork, dvd, Defaults())
            .rfind("\"/opt/quintaro/mencoder.exe\" dvd://1 -dvd-device \"/media/DVD\"  -mc 0 ", 0),
        0u);
}

TEST(CommandLines, AudioVariants) {
    const std::string src = SourceArgument(kSource, SourceKind::File, kWork);
    EncodeSettings s = Defaults();
    s.Stereo = false;
    EXPECT_EQ(AudioEncodingCommand(kApp, kWork, s),
              "\"/opt/quintaro/enhAacPlusEnc.exe\" \"/tmp/tarnok/audio.wav\" "
              "\"/tmp/tarnok/audio.mp4\" --cbr 32000  --force-mono --channel-count 1");
    EXPECT_TRUE(AudioExtractionCommand(kApp, kWork, src, s).ends_with(" -af channels=1"));
    s.AudioBitrate = 4;
    EXPECT_EQ(AudioEncodingCommand(kApp, kWork, s),
              "\"/opt/quintaro/enhAacPlusEnc.exe\" \"/tmp/tarnok/audio.wav\" "
              "\"/tmp/tarnok/audio.mp4\" --cbr 64000 --disable-ps  --force-mono --channel-count 1");
    s.Stereo = true;
    EXPECT_TRUE(AudioEncodingCommand(kApp, kWork, s).ends_with(" --cbr 64000 --disable-ps "));

    s = Defaults();
    s.ResampleOn = true;
    EXPECT_TRUE(AudioExtractionCommand(kApp, kWork, src, s)
                    .ends_with(" -vo null -vc null -af channels=2,resample=44100:0:2"));
    s.ResampleRate = 1;
    EXPECT_TRUE(AudioExtractionCommand(kApp, kWork, src, s)
                    .ends_with(" -vo null -vc null -af channels=2,resample=48000:0:2"));
    s.Stereo = false;
    EXPECT_TRUE(AudioExtractionCommand(kApp, kWork, src, s)
                    .ends_with(" -af channels=1,resample=48000:0:2"));
}

TEST(CommandLines, WavLengthCountsBytes) {
    struct Case {
        std::string work;
        std::string piece;
    };
    const Case cases[] = {
        {"/t/", "file=\"%12%/t/audio.wav\""},  // one digit would be 9 or fewer bytes
        {"/tmp//tarnok/", "file=\"%22%/tmp//tarnok/audio.wav\""},
        {"/home/änne/.cache/tarnok/", "file=\"%35%/home/änne/.cache/tarnok/audio.wav\""},
        {"/tarnok/", "file=\"%17%/tarnok/audio.wav\""},
    };
    for (const Case& c : cases) {
        const std::string line = AudioExtractionCommand(
            kApp, c.work, SourceArgument(kSource, SourceKind::File, c.work), Defaults());
        EXPECT_NE(line.find(c.piece), std::string::npos) << line;
    }
}

TEST(CommandLines, MergeCompletion) {
    const std::string cmd = "a [FPS] b [FPS][FPS] [FPS";
    EXPECT_EQ(ReplaceFps(cmd, "29.970"), "a 29.970 b 29.97029.970 [FPS");
    EXPECT_EQ(ReplaceFps(cmd, ""), "a  b  [FPS");
    EXPECT_EQ(ReplaceFps("x", "[FPS]"), "x");
    EXPECT_EQ(AppendAudioPiece("m", kWork), "m -add \"/tmp/tarnok/audio.mp4\" ");
}

TEST(CommandLines, OutputPaths) {
    struct Case {
        std::string folder;
        std::string source;
        bool dvd;
        int format;
        std::string expected;
    };
    const Case cases[] = {
        {"/out", "/v/clip.avi", false, 0, "/out/clip.mp4"},
        {"/out/", "/v/clip.avi", false, 1, "/out/clip.mkv"},
        {"", "/v/clip.avi", false, 0, "/clip.mp4"},
        {"/out", "/v/my.holiday.2007.wmv", false, 0, "/out/my.holiday.2007.mp4"},
        {"/out", "/v.d/clip.AVI", false, 0, "/out/clip.mp4"},
        {"/out", "/v/a:b.mkv", false, 0, "/out/a:b.mp4"},  // ':' is an ordinary character
        {"/out", "/media/MY_DVD", true, 0, "/out/dvdout.mp4"},
        {"/out", "/media/MY_DVD.2", true, 1, "/out/dvdout.mkv"},
        {"/out", "/v/a.ogm", false, 0, "/out/a.mp4"},
        {"/out", "/v/noext", false, 0, "/out/noext.mp4"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputPath(c.folder, c.source, c.dvd, c.format), c.expected) << c.source;
    }
}

TEST(CommandLines, OgmDetectionIsExactAndCaseSensitive) {
    EXPECT_TRUE(IsOgmSource("/v/film.ogm"));
    EXPECT_TRUE(IsOgmSource("/v.ogm/film.x.ogm"));
    EXPECT_FALSE(IsOgmSource("/v/film.OGM"));
    EXPECT_FALSE(IsOgmSource("/v/film.Ogm"));
    EXPECT_FALSE(IsOgmSource("/v/film.ogm.avi"));
    EXPECT_FALSE(IsOgmSource("/v.ogm/film"));
}

TEST(CommandLines, JobCommandsFollowTheSourceKind) {
    EncodeSettings s = Defaults();
    JobCommands ogm = BuildJobCommands(kApp, kWork, "/v/a.ogm", false, s,
                                       OutputPath(s.OutputFolder, "/v/a.ogm", false, 0));
    EXPECT_TRUE(ogm.IsOgm);
    EXPECT_EQ(ogm.MatroskaConversion, MatroskaConversionCommand(kApp, kWork, "/v/a.ogm"));
    EXPECT_NE(ogm.AnalysisPass.find("\"/tmp/tarnok/source.mkv\"  -mc 0"), std::string::npos);
    EXPECT_NE(ogm.EncodingPass.find("\"/tmp/tarnok/source.mkv\"  -mc 0"), std::string::npos);
    EXPECT_NE(ogm.AudioExtraction.find("\"/tmp/tarnok/source.mkv\"  -mc 0"), std::string::npos);
    EXPECT_EQ(ogm.OutputPath, "/home/ann/out/a.mp4");
    EXPECT_TRUE(ogm.MkvMerge.empty());

    JobCommands upper = BuildJobCommands(kApp, kWork, "/v/A.OGM", false, s, "/o/A.mp4");
    EXPECT_FALSE(upper.IsOgm);
    EXPECT_TRUE(upper.MatroskaConversion.empty());
    EXPECT_NE(upper.AnalysisPass.find("\"/v/A.OGM\"  -mc 0"), std::string::npos);

    s.OutputFormat = 1;
    JobCommands dvd = BuildJobCommands(kApp, kWork, "/media/DVD", true, s,
                                       OutputPath(s.OutputFolder, "/media/DVD", true, 1));
    EXPECT_FALSE(dvd.IsOgm);
    EXPECT_EQ(dvd.OutputPath, "/home/ann/out/dvdout.mkv");
    EXPECT_NE(dvd.AnalysisPass.find("dvd://1 -dvd-device \"/media/DVD\"  -mc 0"),
              std::string::npos);
    EXPECT_NE(dvd.Mp4Merge.find("-new \"/tmp/tarnok/tempout.mp4\""), std::string::npos);
    EXPECT_EQ(dvd.MkvMerge, MkvMergeCommand(kApp, kWork, "/home/ann/out/dvdout.mkv"));
}
