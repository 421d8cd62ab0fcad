// The About tab: title, build date, platform, credits and the legal notice.
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSysInfo>
#include <QTabWidget>

#include "app/Tfmain.h"
#include "app/WindowWidgets.h"

void Tfmain::BuildAboutTab() {
    tAbout = new QWidget();
    tAbout->setObjectName(QStringLiteral("tAbout"));
    PageControl1->addTab(tAbout, QStringLiteral("About"));

    QGroupBox* head = MakeGroup(tAbout, "grpTitle", "", QRect(3, 3, 301, 86));
    auto* title = new QLabel(QString::fromLatin1(ApplicationTitle), head);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont(QStringLiteral("Comic Sans MS"));
    titleFont.setPixelSize(45);
    title->setFont(titleFont);
    title->setGeometry(8, 6, 285, 54);
    lblVersion = new QLabel(head);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(8, 62, 110, 16);
    // The platform the program runs on, not the one it was first written for.
#ifdef Q_OS_LINUX
    const QString platform = QStringLiteral("for Linux");
#else
    const QString platform = QStringLiteral("for ") + QSysInfo::prettyProductName();
#endif
    lblPlatform = new QLabel(platform, head);
    lblPlatform->setObjectName(QStringLiteral("lblPlatform"));
    QFont italic = lblPlatform->font();
    italic.setItalic(true);
    lblPlatform->setFont(italic);
    lblPlatform->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblPlatform->setGeometry(120, 62, 173, 16);

    QGroupBox* credits = MakeGroup(tAbout, "grpCredits", "", QRect(3, 95, 150, 211));
    memCredits = new QPlainTextEdit(credits);
    memCredits->setObjectName(QStringLiteral("memCredits"));
    memCredits->setGeometry(4, 6, 142, 200);
    memCredits->setReadOnly(true);
    memCredits->setFrameShape(QFrame::NoFrame);
    memCredits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memCredits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memCredits->viewport()->setAutoFillBackground(false);
    // "Using:" names the tools this build really runs: the Fraunhofer FDK AAC library encodes
    // the HE-AAC, ffmpeg stands in for MP4Box.
    memCredits->setPlainText(
        QStringLiteral("Developer:\n"
                       "* the Quintaro developers\n"
                       "\n"
                       "Thanks to:\n"
                       "* everyone who tested it\n"
                       "\n"
                       "Based on:\n"
                       "* x264\n"
                       "* Qt\n"
                       "\n"
                       "Using:\n"
                       "* mplayer/mencoder\n"
                       "* Fraunhofer FDK AAC\n"
                       "* ffmpeg\n"
                       "* mkvtoolnix"));

    QGroupBox* legal = MakeGroup(tAbout, "grpLegal", "", QRect(159, 95, 145, 105));
    auto* notice = new QLabel(QStringLiteral("Free to use and share.\nNo warranty."), legal);
    notice->setObjectName(QStringLiteral("lblLegal"));
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice->setGeometry(8, 10, 131, 86);

    MakeGroup(tAbout, "grpEmpty", "", QRect(159, 206, 145, 100));
}
