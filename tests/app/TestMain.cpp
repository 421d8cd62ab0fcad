#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char* argv[]) {
    // Test discovery runs this program at build time too, where there may be no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The tests never reach the user's desktop: no notification of theirs pops up, no sleep
    // inhibitor is taken, and no running Quintaro window is handed anything. Tests of those
    // give the window buses and a runtime folder of their own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quintaro-tests-no-bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quintaro-tests-no-bus");
    QTemporaryDir runtime;
    if (runtime.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
