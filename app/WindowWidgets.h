#pragma once

// The small makers the window's tabs share, and its 8-bit text at the widgets' edge.

#include <QFont>
#include <QRect>
#include <QString>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QTableWidgetItem;
class QWidget;

// The build date the About tab shows.
inline constexpr char kBuildDate[] = "2007-09-25";

// 8-bit texts (paths, tool output) become QStrings only here, with the local 8-bit codec.
QString Local(const std::string& text);
std::string EightBit(const QString& text);

QFont NamedFont(const char* family, int pointSize);
// A drop-down from which only `items` can be chosen.
QComboBox* MakeList(QWidget* parent, const char* name, const std::vector<std::string>& items,
                    int current, const QRect& geometry);
QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption, bool checked,
                     const QRect& geometry);
// A field's caption; the field is its buddy, so that screen readers say which field it names.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, const QRect& geometry,
                  QWidget* buddy);
QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption, const QRect& geometry);
// A cell of the queue grid: selectable, not editable.
QTableWidgetItem* QueueCell(const QString& text);
