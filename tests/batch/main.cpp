#include <gtest/gtest.h>

#include <QCoreApplication>

// The tool runner serves the event loop while it waits, so the tests need an application.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
