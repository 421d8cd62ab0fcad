#include "console/HandOver.h"

#include <QReadLocker>
#include <QWriteLocker>
#include <chrono>

#include "console/Tsan.h"

namespace {

using Clock = std::chrono::steady_clock;

// Splits text at CR LF, CR or LF the way a string list takes a whole text: a final line break
// adds no empty entry.
std::vector<std::string> SplitText(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        lines.push_back(current);
    }
    return lines;
}

}  // namespace

// The steps of one delivery, in the order the worker's own hand-over of the line would take
// them: capture, watchdog, then the display and the line handler.
void ApplyDelivery(TDosRun& run, TDosCommand& command, TDelivery& d) {
    try {
        if (d.returnCode >= 0) {
            command.outputReturnCode_.store(d.returnCode);
        }
        {
            QWriteLocker lock(&command.linesLock_);
            QUINTARO_TSAN_ACQUIRE(&command.linesLock_);
            std::vector<std::string>& lines = command.capturedLines_;
            std::vector<TOutputType>& kinds = command.capturedKinds_;
            if (d.grows && run.lineOpen && !lines.empty() && kinds.back() == otBeginningOfLine &&
                d.line.size() >= lines.back().size() &&
                d.line.compare(0, lines.back().size(), lines.back()) == 0) {
                lines.back().append(d.line, lines.back().size());
            } else {
                lines.push_back(d.line);
                kinds.push_back(d.kind);
            }
            QUINTARO_TSAN_RELEASE(&command.linesLock_);
        }
        run.watchdog->NoteOutput();
    } catch (...) {
        // A line that cannot be stored is lost; the run goes on.
    }
    try {
        if (std::vector<std::string>* display = command.DisplayLines()) {
            if (display->empty()) {
                if (d.kind == otBeginningOfLine) {
                    *display = SplitText(d.line);
                } else {
                    display->push_back(d.line);
                }
            } else if (run.lineOpen) {
                display->back() = d.line;
            } else {
                display->push_back(d.line);
            }
        }
        run.lineOpen = d.kind == otBeginningOfLine;
        if (run.onNewLine) {
            run.onNewLine(&command, std::move(d.line), d.kind);
        }
    } catch (...) {
        // A failing display or handler costs that line only; the run goes on.
    }
}

void ApplyPendingLines(const std::shared_ptr<TDosRun>& runRef) {
    // Keep the run alive: a handler may destroy the command, and with it the command's reference.
    std::shared_ptr<TDosRun> keep = runRef;
    TDosRun& run = *keep;
    // One event delivers a whole read, but not for long enough to freeze the window.
    const auto deadline = Clock::now() + std::chrono::milliseconds(5);
    for (;;) {
        if (!run.command || run.released.load()) {
            return;
        }
        const uint64_t posted = run.posted.load(std::memory_order_acquire);
        if (posted != run.applied.load(std::memory_order_relaxed)) {
            while (run.batchNext < run.batch.size()) {
                TDelivery& d = run.batch[run.batchNext];
                // A stop asked for while the line before was handed over ends the worker's walk
                // at the next byte.
                if (d.droppable && run.terminate.load()) {
                    run.droppedAt = static_cast<long>(run.batchNext);
                    break;
                }
                ++run.batchNext;
                ApplyDelivery(run, *run.command, d);
                if (!run.command) {
                    return;  // the handler destroyed or restarted the command
                }
                if (run.batchNext < run.batch.size() && Clock::now() > deadline) {
                    // Let the other events through; the request stays ours, so post it again.
                    PostEvent(run.command, ApplyLinesEvent());
                    return;
                }
            }
            run.applied.store(posted, std::memory_order_release);
            run.applied.notify_all();
            continue;
        }
        run.applyRequested.store(false);
        if (run.posted.load() != run.applied.load() && !run.applyRequested.exchange(true)) {
            continue;  // a batch arrived after the check: still ours to deliver
        }
        return;
    }
}

long HandOver(TDosRun& run, std::vector<TDelivery>&& batch) {
    uint64_t seq = 0;
    WithCommand(run, [&](TDosCommand& c) {
        run.batch = std::move(batch);
        run.batchNext = 0;
        run.droppedAt = -1;
        seq = run.posted.load(std::memory_order_relaxed) + 1;
        run.posted.store(seq, std::memory_order_release);
        if (!run.applyRequested.exchange(true)) {
            PostEvent(&c, ApplyLinesEvent());
        }
    });
    if (seq == 0) {
        return -1;
    }
    // Wait until the command's thread has delivered the batch, or the command has let us go.
    for (;;) {
        const uint64_t applied = run.applied.load(std::memory_order_acquire);
        if (run.released.load()) {
            return -1;
        }
        if (applied >= seq) {
            return run.droppedAt;
        }
        run.applied.wait(applied);
    }
}
