// What a screen reader finds in the window: a name for everything, descriptions for the
// controls, and the settings' captions tied to their fields.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>

#include "AppTestSupport.h"

namespace {

QString AccessibleText(QWidget* widget, QAccessible::Text text) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(text) : QString();
}

// Widgets of the program's own making carry object names; Qt's inner parts (viewports, scroll
// bars, header views) carry none or one beginning with "qt_", and are described by their roles.
bool OwnWidget(const QWidget* widget) {
    return !widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_");
}

using Accessibility = WindowTest;

}  // namespace

TEST_F(Accessibility, EveryWidgetHasAName) {
    Window->show();
    auto* tabs = Window->findChild<QTabWidget*>("PageControl1");
    // Each page once in front, so that every control is visible to the window once.
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        for (QWidget* widget : Window->findChildren<QWidget*>()) {
            const bool control = widget->focusPolicy() != Qt::NoFocus;
            if (!widget->isVisibleTo(Window.get()) || !(control || OwnWidget(widget))) {
                continue;
            }
            const std::string what = widget->metaObject()->className() + std::string(" ") +
                                     widget->objectName().toStdString();
            EXPECT_FALSE(AccessibleText(widget, QAccessible::Name).isEmpty()) << what;
            if (control && OwnWidget(widget) && !qobject_cast<QTabWidget*>(widget)) {
                EXPECT_FALSE(AccessibleText(widget, QAccessible::Description).isEmpty()) << what;
            }
        }
    }
    for (const char* menu : {"PopupMenu1", "PopupMenu2"}) {
        EXPECT_FALSE(AccessibleText(Window->findChild<QWidget*>(menu), QAccessible::Name).isEmpty())
            << menu;
    }
}

TEST_F(Accessibility, TheControlsOnceAnnouncedByTheirKindHaveNames) {
    const std::pair<const char*, const char*> names[] = {
        {"lstLog", "Activity log"},     {"txtLogEncoder", "Progress"},
        {"lstFiles", "Queue"},          {"Button1", "Browse for the output folder"},
        {"txtOutput", "Output folder"},
    };
    for (const auto& [object, name] : names) {
        EXPECT_EQ(AccessibleText(Window->findChild<QWidget*>(object), QAccessible::Name), name)
            << object;
    }
}

TEST_F(Accessibility, LabelsNameTheirFields) {
    const std::pair<const char*, const char*> pairs[] = {
        {"lblVSourceType", "cboVSourceType"}, {"lblOutput", "cboOutput"},
        {"lblVBitrate", "txtVBitrate"},       {"lblVQuality", "cboVQuality"},
        {"lblAQuality", "cboAQuality"},
    };
    for (const auto& [labelName, fieldName] : pairs) {
        auto* label = Window->findChild<QLabel*>(labelName);
        auto* field = Window->findChild<QWidget*>(fieldName);
        ASSERT_NE(label, nullptr) << labelName;
        ASSERT_NE(field, nullptr) << fieldName;
        EXPECT_EQ(label->buddy(), field) << labelName;
        // The relation a screen reader follows from the field to its caption.
        bool labelled = false;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        for (const auto& [other, relation] : accessible->relations(QAccessible::Label)) {
            labelled = labelled || other->object() == label;
        }
        EXPECT_TRUE(labelled) << fieldName;
    }
}
