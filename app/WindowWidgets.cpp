#include "app/WindowWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTableWidgetItem>

QString Local(const std::string& text) {
    return QString::fromLocal8Bit(text);
}

std::string EightBit(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QFont NamedFont(const char* family, int pointSize) {
    QFont font(QString::fromLatin1(family));
    font.setPointSize(pointSize);
    return font;
}

QComboBox* MakeList(QWidget* parent, const char* name, const std::vector<std::string>& items,
                    int current, const QRect& geometry) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    for (const std::string& item : items) {
        combo->addItem(QString::fromStdString(item));
    }
    combo->setCurrentIndex(current);
    combo->setGeometry(geometry);
    return combo;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption, bool checked,
                     const QRect& geometry) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    box->setGeometry(geometry);
    return box;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, const QRect& geometry,
                  QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setBuddy(buddy);
    return label;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption,
                     const QRect& geometry) {
    auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(geometry);
    return group;
}

QTableWidgetItem* QueueCell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}
