#include "console/DosRun.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

TDosRun::TDosRun() {
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        wakeError = errno;
    }
}

TDosRun::~TDosRun() {
    if (wakeFd >= 0) {
        close(wakeFd);
    }
}

void TDosRun::Wake() {
    if (wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t ignored = write(wakeFd, &one, sizeof one);
        (void)ignored;
    }
}

void PostToCommand(TDosRun& run, QEvent::Type type) {
    WithCommand(run, [type](TDosCommand& command) { PostEvent(&command, type); });
}
