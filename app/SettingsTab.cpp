// The Settings tab: every encoding setting, at its default.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include "app/Tfmain.h"
#include "app/WindowWidgets.h"

void Tfmain::BuildSettingsTab() {
    tSettings = new QWidget();
    tSettings->setObjectName(QStringLiteral("tSettings"));
    PageControl1->addTab(tSettings, QStringLiteral("Settings"));
    const EncodeSettings defaults;

    QGroupBox* general = MakeGroup(tSettings, "grpGeneral", "General", QRect(3, 3, 134, 70));
    cboVSourceType = MakeList(general, "cboVSourceType", SettingItems::SourceType,
                              defaults.SourceType, QRect(47, 19, 83, 21));
    MakeLabel(general, "lblVSourceType", "Source:", QRect(4, 19, 42, 21), cboVSourceType);
    cboOutput = MakeList(general, "cboOutput", SettingItems::OutputFormat, defaults.OutputFormat,
                         QRect(47, 44, 83, 21));
    MakeLabel(general, "lblOutput", "Output:", QRect(4, 44, 42, 21), cboOutput);

    QGroupBox* video = MakeGroup(tSettings, "grpVideo", "Video", QRect(3, 79, 134, 74));
    txtVBitrate = new QLineEdit(QString::fromStdString(defaults.VideoBitrate), video);
    txtVBitrate->setObjectName(QStringLiteral("txtVBitrate"));
    txtVBitrate->setGeometry(47, 20, 83, 21);
    MakeLabel(video, "lblVBitrate", "Bitrate:", QRect(4, 20, 42, 21), txtVBitrate);
    cboVQuality = MakeList(video, "cboVQuality", SettingItems::VideoQuality, defaults.VideoQuality,
                           QRect(47, 46, 83, 21));
    MakeLabel(video, "lblVQuality", "Quality:", QRect(4, 46, 42, 21), cboVQuality);

    QGroupBox* audio = MakeGroup(tSettings, "grpAudio", "Audio", QRect(3, 159, 134, 74));
    cboAQuality = MakeList(audio, "cboAQuality", SettingItems::AudioBitrate, defaults.AudioBitrate,
                           QRect(47, 20, 83, 21));
    MakeLabel(audio, "lblAQuality", "Bitrate:", QRect(4, 20, 42, 21), cboAQuality);
    chkStereo = MakeCheck(audio, "chkStereo", "Stereo", defaults.Stereo, QRect(47, 47, 83, 19));
    chkStereo->setToolTip(QStringLiteral("Uncheck for mono"));

    MakeGroup(tSettings, "grpLanguage", "Language", QRect(3, 239, 134, 67));

    QGroupBox* filtering =
        MakeGroup(tSettings, "grpFiltering", "Filtering", QRect(143, 3, 161, 206));
    const int checkX = 6;
    const int checkWidth = 74;
    const int listX = 80;
    const int listWidth = 76;
    auto row = [](int index) { return 18 + index * 26; };
    chkFLevel = MakeCheck(filtering, "chkFLevel", "Fix Levels", defaults.FixLevels,
                          QRect(checkX, row(0), 140, 21));
    chkFPP = MakeCheck(filtering, "chkFPP", "Post Processing", defaults.PostProcessing,
                       QRect(checkX, row(1), 140, 21));
    chkFPP->setToolTip(QStringLiteral("FSPP, applied on the source"));
    chkFResize = MakeCheck(filtering, "chkFResize", "Resize", defaults.ResizeOn,
                           QRect(checkX, row(2), checkWidth, 21));
    cboFResize = MakeList(filtering, "cboFResize", SettingItems::ResizeTo, -1,
                          QRect(listX, row(2), listWidth, 21));
    cboFResize->setEditable(true);
    cboFResize->setInsertPolicy(QComboBox::NoInsert);
    cboFResize->setCurrentText(QString::fromStdString(defaults.ResizeTo));
    chkDeInt = MakeCheck(filtering, "chkDeInt", "Frame", defaults.FrameOn,
                         QRect(checkX, row(3), checkWidth, 21));
    cboFDeInt = MakeList(filtering, "cboFDeInt", SettingItems::FrameMode, defaults.FrameMode,
                         QRect(listX, row(3), listWidth, 21));
    chkFDenoise = MakeCheck(filtering, "chkFDenoise", "Denoise", defaults.DenoiseOn,
                            QRect(checkX, row(4), checkWidth, 21));
    cboFDenoise = MakeList(filtering, "cboFDenoise", SettingItems::DenoiseLevel,
                           defaults.DenoiseLevel, QRect(listX, row(4), listWidth, 21));
    chkFSharpen = MakeCheck(filtering, "chkFSharpen", "Sharpen", defaults.SharpenOn,
                            QRect(checkX, row(5), checkWidth, 21));
    cboFSharpen = MakeList(filtering, "cboFSharpen", SettingItems::SharpenLevel,
                           defaults.SharpenLevel, QRect(listX, row(5), listWidth, 21));
    chkFSample = MakeCheck(filtering, "chkFSample", "Audio SR", defaults.ResampleOn,
                           QRect(checkX, row(6), checkWidth, 21));
    cboFSample = MakeList(filtering, "cboFSample", SettingItems::ResampleRate,
                          defaults.ResampleRate, QRect(listX, row(6), listWidth, 21));
}
