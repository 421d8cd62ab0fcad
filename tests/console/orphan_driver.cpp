// A program that runs one scripted child through TDosCommand and prints the child's lines; the
// tests kill it to see that the child does not outlive it.
#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/DosCommand.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    std::printf("driver %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    TDosCommand command;
    command.SetCommandLine("\"" + std::string(argv[1]) + "\" p s:60000");
    command.SetOnNewLine([](TDosCommand*, std::string line, TOutputType) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    command.Execute();
    return app.exec();
}
