#pragma once

#include <functional>
#include <string>
#include <vector>

class QApplication;
class Tfmain;

// What the program was started with: "quintaro [FILE|FOLDER]...".
struct CommandLine {
    // Absolute paths, byte for byte as given; relative ones taken from the current folder,
    // "file://" URIs turned into their paths.
    std::vector<std::string> Paths;
    bool Help = false;
    bool Version = false;
    std::string Error;  // an option the program does not know
};

// Reads the arguments after the program's name (the ones Qt has not taken). "--" ends the
// options, so that a file whose name begins with "-" can be given.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::string& currentFolder);
// The same for this process's arguments, from its current folder.
CommandLine ReadCommandLine(int argc, char* argv[]);
std::string UsageText();

// Answers "--help" and "--version" before anything needs a display; -1 when neither was asked.
int AnswerInfoOptions(int argc, char* argv[]);

// The program after the application exists: hands the paths to this user's running window and
// returns, or opens the window, queues the paths as a drop of them and runs until it is closed.
// started, when given, sees the window once it is shown.
int RunProgram(QApplication& application, const CommandLine& commandLine,
               const std::function<void(Tfmain&)>& started = {});
