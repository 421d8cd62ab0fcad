// A scripted child for the console runner's tests and benchmarks. Each argument is one action:
//   w:TEXT   write TEXT in one write, then wait until the reader has taken it all
//   W:TEXT   write TEXT in one write without waiting
//            (TEXT knows \r \n \t \0 \\ and \xHH)
//   c:N      write N bytes 'x' in one write
//   u:N:M    write N pieces of M bytes 'x', each a read of its own (no line end)
//   t:N:F    print N lines "line I" through stdio, flushing each when F is 1
//   L:N:MS   print N lines holding CLOCK_MONOTONIC in ns, flushed, MS apart
//   y        print "flood" lines forever
//   s:MS     sleep
//   x:CODE   exit with CODE (may be negative)
//   k:SIG    end by signal SIG
//   p        print "pid N"
//   g        start a grandchild that sleeps 60 s and print "grandchild N"
//   e        print what the child was given: "pgid=B nice=N fds=LIST stdin=STATE"
//   r        read one line from stdin and print "got LINE"
//   f:PATH   write the pid into the file PATH
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        switch (c) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case 'x': {
                out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
                break;
            }
            default:
                out += c;
        }
    }
    return out;
}

void WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(1, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            std::exit(90);
        done += static_cast<size_t>(n);
    }
}

void SleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Waits until the pipe behind stdout is empty, so that the next write is a read of its own.
void WaitDrained() {
    for (int i = 0; i < 20000; ++i) {
        int waiting = 0;
        if (ioctl(1, FIONREAD, &waiting) != 0 || waiting == 0)
            return;
        SleepMs(1);
    }
}

long long NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

std::string Describe() {
    std::string fds;
    if (DIR* d = opendir("/proc/self/fd")) {
        std::vector<int> list;
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            int fd = std::atoi(e->d_name);
            if (fd != dirfd(d))
                list.push_back(fd);
        }
        closedir(d);
        std::sort(list.begin(), list.end());
        for (int fd : list)
            fds += (fds.empty() ? "" : ",") + std::to_string(fd);
    }
    pollfd p{0, POLLIN, 0};
    int r = poll(&p, 1, 200);
    std::string in = r == 0 ? "quiet" : (p.revents & POLLIN) ? "data" : "eof";
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, 0);
    return "pgid=" + std::to_string(getpgrp() == getpid()) + " nice=" + std::to_string(nice) +
           " fds=" + fds + " stdin=" + in + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    for (int a = 1; a < argc; ++a) {
        std::string arg = argv[a];
        char op = arg[0];
        std::string val = arg.size() > 2 ? arg.substr(2) : "";
        switch (op) {
            case 'w':
                WriteAll(Unescape(val));
                WaitDrained();
                break;
            case 'W':
                WriteAll(Unescape(val));
                break;
            case 'c':
                WriteAll(std::string(std::stoul(val), 'x'));
                break;
            case 'u': {
                const long pieces = std::stol(val);
                const std::string piece(std::stoul(val.substr(val.find(':') + 1)), 'x');
                for (long i = 0; i < pieces; ++i) {
                    WriteAll(piece);
                    WaitDrained();
                }
                break;
            }
            case 't': {
                long n = std::stol(val);
                bool flush = val.find(":1") != std::string::npos;
                for (long i = 0; i < n; ++i) {
                    std::printf("line %ld\n", i);
                    if (flush)
                        std::fflush(stdout);
                }
                std::fflush(stdout);
                break;
            }
            case 'L': {
                long n = std::stol(val);
                long ms = std::stol(val.substr(val.find(':') + 1));
                for (long i = 0; i < n; ++i) {
                    std::printf("%lld\n", NowNs());
                    std::fflush(stdout);
                    SleepMs(ms);
                }
                break;
            }
            case 'y':
                for (;;)
                    WriteAll("flood\n");
            case 's':
                SleepMs(std::stol(val));
                break;
            case 'x':
                std::fflush(stdout);
                std::exit(std::stoi(val));
            case 'k': {
                std::fflush(stdout);
                signal(std::stoi(val), SIG_DFL);
                raise(std::stoi(val));
                SleepMs(5000);
                return 91;
            }
            case 'p':
                WriteAll("pid " + std::to_string(getpid()) + "\n");
                break;
            case 'g': {
                pid_t pid = fork();
                if (pid == 0) {
                    SleepMs(60000);
                    _exit(0);
                }
                WriteAll("grandchild " + std::to_string(pid) + "\n");
                break;
            }
            case 'e':
                WriteAll(Describe());
                break;
            case 'r': {
                std::string line;
                char ch;
                while (read(0, &ch, 1) == 1 && ch != '\n')
                    line += ch;
                WriteAll("got " + line + "\n");
                break;
            }
            case 'f': {
                const std::string pid = std::to_string(getpid()) + "\n";
                int fd = open(val.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
                if (fd >= 0) {
                    ssize_t ignored = write(fd, pid.data(), pid.size());
                    (void)ignored;
                    close(fd);
                }
                break;
            }
            default:
                std::fprintf(stderr, "unknown action %s\n", arg.c_str());
                return 92;
        }
    }
    std::fflush(stdout);
    return 0;
}
