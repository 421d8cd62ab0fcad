#include "BatchFixture.h"

#include "pipeline/ExternalTools.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::vector<std::string> FakeHost::Statuses() const {
    std::vector<std::string> statuses;
    for (const Entry& entry : entries) {
        statuses.push_back(entry.status);
    }
    return statuses;
}

std::string FakeHost::RowStatus(int row) const {
    if (row == 0) {
        return "Status";
    }
    if (row >= 1 && row <= static_cast<int>(entries.size())) {
        return entries[static_cast<size_t>(row - 1)].status;
    }
    return "";
}

void FakeHost::SetRowStatus(int row, const std::string& status) {
    if (row >= 1 && row <= static_cast<int>(entries.size())) {
        entries[static_cast<size_t>(row - 1)].status = status;
    }
}

std::vector<std::string> FakeHost::QueuedPathList() const {
    std::vector<std::string> paths;
    for (const Entry& entry : entries) {
        paths.push_back(entry.path);
    }
    return paths;
}

void FakeHost::LogAppend(const std::string& text) {
    if (log.empty()) {
        log.push_back(text);
    } else {
        log.back() += " " + text;
    }
}

void FakeHost::SetRunButtons(bool isRunning) {
    running = isRunning;
    ++buttonChanges;
}

void FakeHost::SetProgressText(const std::string& text) {
    progress.push_back(text);
    if (onProgress) {
        onProgress(*this, text);
    }
}

void FakeHost::Use(const StandInTools& tools) {
    appDir = tools.AppDir();
    settings.OutputFolder = tools.OutputFolder();
}

int FakeHost::RunStage(const std::string& commandLine, ToolRunDetails& details) {
    commandsRun.push_back(commandLine);
    const int result = BatchHost::RunStage(commandLine, details);
    if (afterStage) {
        afterStage(*this, commandLine, result);
    }
    return result;
}

StandInTools::StandInTools() {
    root_ = dir_.path().toStdString();
    mkdir((root_ + "/app").c_str(), 0755);
    mkdir((root_ + "/app/mkv").c_str(), 0755);
    mkdir((root_ + "/temp").c_str(), 0755);
    mkdir((root_ + "/out").c_str(), 0755);
    mkdir((root_ + "/src").c_str(), 0755);
    for (const ExternalTool& tool : ExternalTools()) {
        const std::string target = root_ + "/app/" + tool.SlotFile;
        symlink(STANDIN_SCRIPT, target.c_str());
    }
    const char* temp = std::getenv("TEMP");
    hadTemp_ = temp != nullptr;
    savedTemp_ = temp ? temp : "";
    setenv("TEMP", (root_ + "/temp").c_str(), 1);
    setenv("STANDIN_DIR", root_.c_str(), 1);
}

StandInTools::~StandInTools() {
    if (hadTemp_) {
        setenv("TEMP", savedTemp_.c_str(), 1);
    } else {
        unsetenv("TEMP");
    }
}

std::string StandInTools::Source(const std::string& name, const std::string& content) {
    const std::string path = root_ + "/src/" + name;
    std::ofstream(path) << content;
    return path;
}

void StandInTools::Behave(const std::string& slot, const std::string& shellLines) {
    std::ofstream(root_ + "/" + slot + ".sh") << shellLines << "\n";
}

std::vector<std::string> StandInTools::Calls() const {
    std::vector<std::string> calls;
    std::ifstream in(root_ + "/calls.log");
    for (std::string line; std::getline(in, line);) {
        calls.push_back(line);
    }
    return calls;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool NoProcessWith(const std::string& marker) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        if (QProcess::execute("pgrep", {"-f", QString::fromStdString(marker)}) == 1) {
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

bool GroupHasLiveMembers(pid_t pgid) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text)) {
            continue;
        }
        const size_t close = text.rfind(')');
        std::istringstream rest(close == std::string::npos ? "" : text.substr(close + 1));
        char state = 0;
        long ppid = 0, group = 0;
        if (rest >> state >> ppid >> group && group == pgid && state != 'Z' && state != 'X') {
            return true;
        }
    }
    return false;
}
