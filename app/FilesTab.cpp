// The Files tab: the job queue's grid and the output folder.
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <memory>

#include "app/JobQueue.h"
#include "app/Tfmain.h"
#include "app/WindowWidgets.h"

void Tfmain::BuildFilesTab() {
    tFiles = new QWidget();
    tFiles->setObjectName(QStringLiteral("tFiles"));
    PageControl1->addTab(tFiles, QStringLiteral("Files"));

    lstFiles = new QTableWidget(2, 2, tFiles);
    lstFiles->setObjectName(QStringLiteral("lstFiles"));
    lstFiles->setGeometry(3, 1, 301, 278);
    lstFiles->setColumnWidth(0, 64);
    lstFiles->setColumnWidth(1, 213);
    lstFiles->verticalHeader()->hide();
    lstFiles->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lstFiles->verticalHeader()->setDefaultSectionSize(16);
    lstFiles->verticalHeader()->setMinimumSectionSize(16);
    // Row 0 holds the header cells; the grid shows them in its header bar, which stays in place
    // while the entries scroll, as a fixed row does.
    lstFiles->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("File")});
    lstFiles->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    lstFiles->horizontalHeader()->setHighlightSections(false);
    lstFiles->horizontalHeader()->setSectionsClickable(false);
    lstFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lstFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstFiles->setWordWrap(false);
    lstFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    queue_ = std::make_unique<JobQueue>(*lstFiles, QueuedPaths);

    txtOutput = new QLineEdit(tFiles);
    txtOutput->setObjectName(QStringLiteral("txtOutput"));
    txtOutput->setGeometry(3, 285, 270, 21);
    txtOutput->setText(QFile::decodeName(QByteArray::fromStdString(DefaultOutputFolder())));

    Button1 = new QPushButton(QStringLiteral("..."), tFiles);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(279, 287, 25, 19);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}
