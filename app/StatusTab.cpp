// The Status tab: Start and Stop, the activity log and the running tool's progress line.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include "app/Tfmain.h"
#include "app/WindowWidgets.h"

void Tfmain::BuildStatusTab() {
    tStatus = new QWidget();
    tStatus->setObjectName(QStringLiteral("tStatus"));
    PageControl1->addTab(tStatus, QStringLiteral("Status"));

    btnStart = new QPushButton(QStringLiteral("Start"), tStatus);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setGeometry(3, 3, 75, 25);
    connect(btnStart, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnStartClick(); }); });

    btnStop = new QPushButton(QStringLiteral("Stop"), tStatus);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    btnStop->setGeometry(84, 3, 75, 25);
    btnStop->setEnabled(false);
    connect(btnStop, &QPushButton::clicked, this, [this] { Guarded([this] { btnStopClick(); }); });

    Image1 = new QLabel(tStatus);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(207, 3, 97, 23);
    Image1->setPixmap(QPixmap(QStringLiteral(":/quintaro/banner.png")));
    Image1->setCursor(Qt::PointingHandCursor);

    lstLog = new QListWidget(tStatus);
    lstLog->setObjectName(QStringLiteral("lstLog"));
    lstLog->setGeometry(3, 34, 301, 245);
    // Lines differ in width: a long one widens the list's content, which then scrolls sideways.
    lstLog->setUniformItemSizes(false);
    lstLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lstLog->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lstLog->setContextMenuPolicy(Qt::CustomContextMenu);

    txtLogEncoder = new QLineEdit(tStatus);
    txtLogEncoder->setObjectName(QStringLiteral("txtLogEncoder"));
    txtLogEncoder->setGeometry(3, 285, 301, 22);
    txtLogEncoder->setFont(NamedFont("Arial", 8));
}
