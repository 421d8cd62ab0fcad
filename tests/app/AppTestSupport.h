#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Tfmain.h"

// A message box the window showed, answered at once by the test.
struct ShownBox {
    QMessageBox::Icon Icon;
    std::string Title;
    std::string Text;
    QMessageBox::StandardButtons Buttons;
};

// A fresh window whose boxes and dialogs never wait: message boxes are recorded and answered
// with NextAnswer; a dialog the test did not expect fails the test and is cancelled.
class WindowTest : public ::testing::Test {
  protected:
    // Calls action on the window's thread, while a run goes on, once condition holds.
    void WhenDuringRun(std::function<bool()> condition, std::function<void()> action) {
        auto* timer = new QTimer(Window.get());
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, condition, action] {
            if (condition()) {
                timer->stop();
                action();
            }
        });
        timer->start();
    }

    void SetUp() override {
        Window = std::make_unique<Tfmain>();
        Window->Dialogs.MessageBox = [this](QMessageBox::Icon icon, const QString& title,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons) {
            Boxes.push_back({icon, title.toStdString(), text.toStdString(), buttons});
            return NextAnswer;
        };
        DefaultNotice = Window->Dialogs.Notice;
        Window->Dialogs.Notice = [this](QMessageBox::Icon icon, const QString& title,
                                        const QString& text) {
            Boxes.push_back({icon, title.toStdString(), text.toStdString(), QMessageBox::Ok});
        };
        Window->Dialogs.OpenFiles = [] {
            ADD_FAILURE() << "unexpected open dialog";
            return QStringList();
        };
        Window->Dialogs.SaveFile = [] {
            ADD_FAILURE() << "unexpected save dialog";
            return QString();
        };
        Window->Dialogs.SelectFolder = [](const QString&) {
            ADD_FAILURE() << "unexpected folder dialog";
            return QString();
        };
        ASSERT_TRUE(Temp.isValid());
    }

    // A path inside the test's temporary folder.
    std::string TempPath(const std::string& relative) const {
        return Temp.path().toStdString() + "/" + relative;
    }

    // Creates a file (and its folders) inside the temporary folder; returns its full path.
    std::string MakeFile(const std::string& relative, const std::string& content = "x") const {
        const std::string path = TempPath(relative);
        const auto slash = path.rfind('/');
        QDir().mkpath(QString::fromStdString(path.substr(0, slash)));
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::vector<std::string> Statuses() const {
        std::vector<std::string> statuses;
        for (int row = 1; row < Window->QueueRowCount(); ++row) {
            statuses.push_back(Window->RowStatus(row));
        }
        return statuses;
    }

    std::unique_ptr<Tfmain> Window;
    std::vector<ShownBox> Boxes;
    // The window's own non-waiting box, for tests that want the real one.
    std::function<void(QMessageBox::Icon, const QString&, const QString&)> DefaultNotice;
    QMessageBox::StandardButton NextAnswer = QMessageBox::Ok;
    QTemporaryDir Temp;
};

// Serves the event loop until condition holds; false when it still does not after timeoutMs.
// (QTRY_ macros report to QTest, which these gtest tests would not hear of.)
inline bool Eventually(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

inline constexpr char kNotCompatibleText[] =
    "Some files were not added, they are not compatible with Quintaro.";
