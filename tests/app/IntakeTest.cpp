// File intake: the extension test, the folder scan, drops onto the grid and the Add dialog.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTableWidget>
#include <QUrl>
#include <algorithm>

#include "AppTestSupport.h"
#include "app/Intake.h"

TEST(ExtensionTest, FollowsTheSubstringRule) {
    struct Case {
        const char* Path;
        bool LowerCase;
        bool Passes;
    };
    const Case cases[] = {
        {"/v/a.avi", false, true},
        {"/v/a.mpeg", false, true},
        {"/v/a.rmvb", false, true},
        {"/v/a.AVI", false, false},  // scanned files are tested as found
        {"/v/a.AVI", true, true},
        {"/v/x.MKV", true, true},
        {"/v/a.mp", false, true},  // pieces of the list pass
        {"/v/a.rm", false, true},
        {"/v/a.mpe", false, true},
        {"/v/a.txt", true, false},
        {"/v/a.mp4.txt", true, false},
        {"/v/noext", true, false},
        {"/v.avi/noext", true, false},  // a dot in a folder name is no extension
        {"/v/.avi", false, true},
        {"/v/a\"b.avi", true, false},  // cannot be quoted on a tool command line
        {"/v/a.av\"i", true, false},
        {"/v/a\\b.avi", true, true},
        // Today's containers, by the same rule.
        {"/v/phone.mov", false, true},
        {"/v/phone.MOV", true, true},
        {"/v/phone.MOV", false, false},
        {"/v/clip.webm", false, true},
        {"/v/clip.m4v", false, true},
        {"/v/cam.mts", false, true},
        {"/v/cam.M2TS", true, true},
        {"/v/tv.ts", false, true},
        {"/v/old.3gp", false, true},
        {"/v/old.flv", false, true},
        {"/v/VTS_01_1.VOB", true, true},
        {"/v/a.m2", false, true},  // a piece of ".m2ts"
        {"/v/a.webmx", false, false},
        {"/v/a.mov.part", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsCompatibleFile(c.Path, c.LowerCase), c.Passes)
            << c.Path << " lower-cased " << c.LowerCase;
    }
    EXPECT_EQ(std::string(SupportedExtensions).size(), 62u) << "the original list stays as it is";
    EXPECT_EQ(FileNameOf("/a/b/c d.avi"), "c d.avi");
    EXPECT_EQ(FileNameOf("/a/b:c.avi"), "b:c.avi") << "':' is an ordinary character";
    EXPECT_EQ(ExtensionOf("/a.b/c"), "");
}

namespace {

class Intake : public WindowTest {
  protected:
    // A fixture folder "drop" holding supported, unsupported and hidden entries.
    void MakeFixture() {
        Expected = {
            MakeFile("drop/clip.avi"),
            MakeFile("drop/a.mp"),
            MakeFile("drop/b.rm"),
        };
        MakeFile("drop/CLIP.AVI");
        MakeFile("drop/noext");
        MakeFile("drop/notes.txt");
        MakeFile("drop/quo\"te.avi");
        MakeFile("drop/.hidden.avi");
        MakeFile("drop/.hiddendir/inside.avi");
        Nested = {MakeFile("drop/sub/y.mkv"), MakeFile("drop/sub/deeper/z.ogm")};
        MakeFile("drop/sub/deeper/.secret.mkv");
        // A link back up the tree must not make the scan endless.
        ASSERT_EQ(symlink("..", TempPath("drop/sub/loop").c_str()), 0);
        // A link to a file counts as that file.
        ASSERT_EQ(symlink("clip.avi", TempPath("drop/linked.avi").c_str()), 0);
        Expected.push_back(TempPath("drop/linked.avi"));
    }

    // Sends a drag of the paths over the grid and drops it; returns whether it was accepted.
    bool Drop(const std::vector<std::string>& paths,
              Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        QList<QUrl> urls;
        for (const std::string& path : paths) {
            urls << QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
        }
        QMimeData mime;
        mime.setUrls(urls);
        return DropMime(mime, actions);
    }

    bool DropMime(const QMimeData& mime, Qt::DropActions actions = Qt::CopyAction) {
        QWidget* target = Window->lstFiles->viewport();
        const QPoint pos = target->rect().center();
        QDragEnterEvent enter(pos, actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent drop(QPointF(pos), actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        LastDropAction = drop.dropAction();
        // The drop is handled once the event has been delivered.
        QCoreApplication::sendPostedEvents();
        return drop.isAccepted();
    }

    std::vector<std::string> Sorted(std::vector<std::string> paths) {
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // Boxes that give the refusal message, whatever names follow it.
    size_t NotCompatibleMessages() const {
        return static_cast<size_t>(std::count_if(Boxes.begin(), Boxes.end(), [](const auto& b) {
            return b.Text.rfind(kNotCompatibleText, 0) == 0 && b.Icon == QMessageBox::NoIcon &&
                   b.Title == "Quintaro 6" && b.Buttons == QMessageBox::Ok;
        }));
    }

    std::vector<std::string> Expected;  // the supported files directly in "drop"
    std::vector<std::string> Nested;    // sub/y.mkv, then sub/deeper/z.ogm
    Qt::DropAction LastDropAction = Qt::IgnoreAction;
};

}  // namespace

TEST_F(Intake, ScanIsDepthFirstAndSkipsHiddenEntries) {
    MakeFixture();
    std::vector<std::string> found;
    Window->CollectFiles(TempPath("drop"), found, "*.*");
    // The folder's own files first (file system order), then each subfolder's.
    ASSERT_GE(found.size(), 5u);
    const std::vector<std::string> own(found.begin(), found.end() - 2);
    for (const char* name : {"CLIP.AVI", "noext", "notes.txt", "quo\"te.avi"}) {
        Expected.push_back(TempPath("drop/") + name);
    }
    EXPECT_EQ(Sorted(own), Sorted(Expected));
    EXPECT_EQ(std::vector<std::string>(found.end() - 2, found.end()), Nested);

    // A trailing "/" is not doubled, and a mask narrows the files but not the folders.
    std::vector<std::string> masked;
    Window->CollectFiles(TempPath("drop/"), masked, "*.mkv");
    EXPECT_EQ(masked, std::vector<std::string>{TempPath("drop/sub/y.mkv")});
}

TEST_F(Intake, DroppedFolderQueuesItsSupportedFilesSilently) {
    MakeFixture();
    ASSERT_TRUE(Drop({TempPath("drop")}));
    EXPECT_EQ(LastDropAction, Qt::CopyAction) << "a drop never tells the source to move";
    const std::vector<std::string> queued = Window->QueuedPaths;
    ASSERT_EQ(queued.size(), Expected.size() + 2);
    EXPECT_EQ(Sorted({queued.begin(), queued.end() - 2}), Sorted(Expected));
    EXPECT_EQ(std::vector<std::string>(queued.end() - 2, queued.end()), Nested);
    EXPECT_TRUE(Boxes.empty()) << "CLIP.AVI and the others are skipped without notice";
    EXPECT_EQ(Window->RowStatus(1), "ready");
}

TEST_F(Intake, MixedDropQueuesWhatFitsAndWarnsOnce) {
    MakeFixture();
    const std::string direct = MakeFile("x.MKV");
    ASSERT_TRUE(Drop({direct, MakeFile("bad.txt"), TempPath("drop"), MakeFile("no extension"),
                      MakeFile("q\"uote.avi"), TempPath("missing.avi")}));
    ASSERT_EQ(Window->QueuedPaths.size(), Expected.size() + 3);
    EXPECT_EQ(Window->QueuedPaths.front(), direct) << "in drop order";
    EXPECT_EQ(Window->RowFileName(1), "x.MKV");
    EXPECT_EQ(NotCompatibleMessages(), 1u);
    ASSERT_EQ(Boxes.size(), 1u);
    // The missing file is ignored, as before; the refused ones are named in drop order.
    EXPECT_EQ(Boxes[0].Text,
              std::string(kNotCompatibleText) + "\n\nbad.txt\nno extension\nq\"uote.avi");
}

TEST(RefusedFilesText, NamesUpToTenFiles) {
    auto names = [](int count) {
        std::vector<std::string> paths;
        for (int i = 1; i <= count; ++i) {
            paths.push_back("/videos/f" + std::to_string(i) + ".txt");
        }
        return paths;
    };
    const std::string head = kNotCompatibleText;
    const std::string ten =
        "\n\nf1.txt\nf2.txt\nf3.txt\nf4.txt\nf5.txt\nf6.txt\nf7.txt\nf8.txt\nf9.txt\nf10.txt";
    EXPECT_EQ(RefusedFilesText({}), head);
    EXPECT_EQ(RefusedFilesText(names(1)), head + "\n\nf1.txt");
    EXPECT_EQ(RefusedFilesText(names(10)), head + ten);
    EXPECT_EQ(RefusedFilesText(names(11)), head + ten + "\nand 1 more");
    EXPECT_EQ(RefusedFilesText(names(250)), head + ten + "\nand 240 more");
    EXPECT_EQ(RefusedFilesText({"/discs/say \"hi\"/"}), head + "\n\nsay \"hi\"")
        << "a folder given with its trailing slash is named all the same";
}

TEST_F(Intake, ModernContainersAreQueuedByDropAndDialog) {
    const std::vector<std::string> files = {MakeFile("phone.MOV"), MakeFile("web.webm"),
                                            MakeFile("cam/00001.MTS"), MakeFile("tv.ts")};
    ASSERT_TRUE(Drop({files[0], files[1], TempPath("cam"), files[3]}));
    // Inside a scanned folder the extension is taken as found, so 00001.MTS stays out.
    EXPECT_EQ(Window->QueuedPaths, (std::vector<std::string>{files[0], files[1], files[3]}));
    EXPECT_TRUE(Boxes.empty());

    Window->Dialogs.OpenFiles = [&] { return QStringList{QString::fromStdString(files[2])}; };
    Window->findChild<QAction*>("Add1")->trigger();
    EXPECT_EQ(Window->QueuedPaths.back(), files[2]);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Intake, DroppedDvdFolderIsQueuedAsOneEntry) {
    MakeFile("disc/VIDEO_TS/VIDEO_TS.IFO");
    MakeFile("disc/VIDEO_TS/VTS_01_1.VOB");
    MakeFile("rip/video_ts/video_ts.ifo");
    // A folder merely named so, without the DVD's index, is scanned like any other.
    const std::string inside = MakeFile("plain/VIDEO_TS/inside.avi");
    const std::string file = MakeFile("x.avi");
    ASSERT_TRUE(Drop({TempPath("disc"), TempPath("rip/video_ts"), TempPath("plain"), file}));
    EXPECT_EQ(Window->QueuedPaths,
              (std::vector<std::string>{TempPath("disc"), TempPath("rip/video_ts"), inside, file}));
    EXPECT_EQ(Window->RowFileName(1), "disc");
    EXPECT_TRUE(Boxes.empty());

    // A DVD folder is refused, like a file, when the tool command lines cannot carry its path:
    // a quote in it, or a backslash at its end that would escape the closing quote.
    MakeFile("say \"hi\"/VIDEO_TS/VIDEO_TS.IFO");
    MakeFile("back\\/VIDEO_TS/VIDEO_TS.IFO");
    ASSERT_TRUE(Drop({TempPath("say \"hi\""), TempPath("back\\")}));
    EXPECT_EQ(Window->QueuedPaths.size(), 4u);
    EXPECT_EQ(NotCompatibleMessages(), 1u);
}

TEST_F(Intake, DropOfOnlyMissingPathsChangesNothing) {
    ASSERT_TRUE(Drop({TempPath("gone.avi"), TempPath("gone")}));
    EXPECT_EQ(Window->QueueRowCount(), 2);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Intake, OnlyFileDragsAreAccepted) {
    QMimeData text;
    text.setText("just text");
    EXPECT_FALSE(DropMime(text));
    // A source that offers neither copy nor link is refused rather than told "moved".
    EXPECT_FALSE(Drop({MakeFile("a.avi")}, Qt::MoveAction));
    EXPECT_EQ(Window->QueueRowCount(), 2);
}

TEST_F(Intake, DroppedPathsKeepTheirBytes) {
    // A name that is not valid UTF-8 arrives percent-encoded in the URI list.
    const std::string name = "caf\xe9.avi";
    const std::string path = MakeFile(name);
    QMimeData mime;
    const QByteArray folder = QUrl::fromLocalFile(Temp.path()).toEncoded();
    mime.setData("text/uri-list", folder + "/caf%E9.avi\r\n");
    ASSERT_TRUE(DropMime(mime));
    EXPECT_EQ(Window->QueuedPaths, std::vector<std::string>{path});
}

TEST_F(Intake, AddDialogLowerCasesAndWarnsOnce) {
    const std::string upper = MakeFile("x.MKV");
    const std::string plain = MakeFile("b.avi");
    Window->Dialogs.OpenFiles = [&] {
        return QStringList{QString::fromStdString(upper), QString::fromStdString(MakeFile("c.txt")),
                           QString::fromStdString(plain),
                           QString::fromStdString(MakeFile("q\"uote.mkv"))};
    };
    Window->findChild<QAction*>("Add1")->trigger();
    EXPECT_EQ(Window->QueuedPaths, (std::vector<std::string>{upper, plain}));
    EXPECT_EQ(NotCompatibleMessages(), 1u);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, std::string(kNotCompatibleText) + "\n\nc.txt\nq\"uote.mkv");

    Boxes.clear();
    Window->Dialogs.OpenFiles = [] { return QStringList(); };  // Cancel
    Window->findChild<QAction*>("Add1")->trigger();
    EXPECT_EQ(Window->QueuedPaths.size(), 2u);
    EXPECT_TRUE(Boxes.empty());
}
