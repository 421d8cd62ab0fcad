// What screen readers say of each control: its accessible name (what it is) and description
// (what it does). Captions already name buttons, check boxes and labelled fields; the rest would
// be announced as a bare "list", "text" or "table".
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <utility>

#include "app/Tfmain.h"

namespace {

void Describe(QWidget* widget, const char* name, const char* description) {
    widget->setAccessibleName(QString::fromLatin1(name));
    widget->setAccessibleDescription(QString::fromLatin1(description));
}

}  // namespace

void Tfmain::DescribeControls() {
    Describe(PageControl1, "Quintaro", "Status, Files, Settings and About pages");
    Describe(tStatus, "Status", "Start and stop the encoding, the activity log and the progress");
    Describe(tFiles, "Files", "The queue of files to encode and the output folder");
    Describe(tSettings, "Settings", "How the files are encoded");
    Describe(tAbout, "About", "The program's version and credits");

    Describe(btnStart, "Start", "Encodes every ready file of the queue, one after another");
    Describe(btnStop, "Stop", "Stops the running encoding; its file goes back to ready");
    Describe(Image1, "Quintaro", "The program's banner");
    Describe(lstLog, "Activity log",
             "What was done, one time-stamped line each; the context menu clears or saves it");
    Describe(txtLogEncoder, "Progress", "The running tool's latest output line");

    Describe(lstFiles, "Queue",
             "The files to encode with their status; drop files and folders here, and use the "
             "context menu to add, remove or reset entries");
    Describe(txtOutput, "Output folder", "The folder the encoded files are written to");
    Describe(Button1, "Browse for the output folder", "Chooses the output folder in a dialog");

    Describe(cboVSourceType, "Source type", "The kind of video the encoder is tuned for");
    Describe(cboOutput, "Output format", "The container of the encoded file: MP4 or MKV");
    Describe(txtVBitrate, "Video bitrate", "The video bitrate in kbit/s");
    Describe(cboVQuality, "Video quality", "Normal, or High for a slower, better encode");
    Describe(cboAQuality, "Audio bitrate", "The audio bitrate and kind of HE-AAC");
    Describe(chkStereo, "Stereo", "Uncheck for mono");
    Describe(chkFLevel, "Fix Levels", "Corrects the brightness range of the picture");
    Describe(chkFPP, "Post Processing", "FSPP, applied on the source");
    Describe(chkFResize, "Resize", "Scales the picture to the size beside it");
    Describe(cboFResize, "Resize to", "Width:height of the scaled picture; any size may be typed");
    // Its text field takes the focus, and has no label of its own.
    Describe(cboFResize->lineEdit(), "Resize to", "Width:height of the scaled picture");
    Describe(chkDeInt, "Frame", "Treats interlaced or telecined frames as chosen beside it");
    Describe(cboFDeInt, "Frame treatment", "Inverse telecine, or deinterlacing");
    Describe(chkFDenoise, "Denoise", "Reduces noise at the strength beside it");
    Describe(cboFDenoise, "Denoise strength", "How strongly noise is reduced");
    Describe(chkFSharpen, "Sharpen", "Sharpens the picture at the strength beside it");
    Describe(cboFSharpen, "Sharpen strength", "How strongly the picture is sharpened");
    Describe(chkFSample, "Audio SR", "Resamples the audio to the rate beside it");
    Describe(cboFSample, "Audio sample rate", "The rate the audio is resampled to");

    lblVersion->setAccessibleDescription(QStringLiteral("Build date"));
    Describe(memCredits, "Credits", "Who made the program and the tools it uses");
    if (auto* notice = findChild<QLabel*>(QStringLiteral("lblLegal"))) {
        notice->setAccessibleDescription(QStringLiteral("The terms of use"));
    }
    // Groups without a caption.
    const std::pair<const char*, const char*> groups[] = {{"grpTitle", "Title"},
                                                          {"grpCredits", "Credits"},
                                                          {"grpLegal", "Legal notice"},
                                                          {"grpEmpty", "Empty"}};
    for (const auto& [object, name] : groups) {
        if (auto* box = findChild<QGroupBox*>(QString::fromLatin1(object))) {
            box->setAccessibleName(QString::fromLatin1(name));
        }
    }
    Describe(PopupMenu1, "Queue menu", "Add, remove and reset the queue's entries");
    Describe(PopupMenu2, "Log menu", "Clear or save the activity log");
}
