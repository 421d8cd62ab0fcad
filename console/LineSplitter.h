// The bytes a child writes, turned into the lines the runner delivers.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/DosCommand.h"

// One line to deliver: appended to CapturedLines, noted by the watchdog, then applied.
struct TDelivery {
    std::string line;
    TOutputType kind = otEntireLine;
    int returnCode = -1;     // OutputReturnCode to set first, -1 for none
    bool droppable = false;  // dropped with the rest when termination was asked for before it
    bool grows = false;      // a longer state of the unfinished line delivered just before it
};

// The longest piece of a line without line end that is gathered before it is delivered as a
// line of its own: a tool that never ends its lines must not make every read re-deliver all of
// its output.
constexpr size_t kMaxLinePiece = 64 * 1024;

// Splits reads into lines. A carriage return or a line feed ends a line, a CR LF pair counts
// once (also when a read ends between the two), NUL bytes are dropped, and what is left open at
// the end of a read is delivered as the unfinished start of a line, which the next reads extend.
// Every delivery but a read's first may be dropped when a stop comes in between (`droppable`).
class LineSplitter {
  public:
    // One read. keepGoing is asked before each step of the walk; once it says no, the rest of the
    // read is dropped and what was gathered is the unfinished line.
    std::vector<TDelivery> Split(std::string_view bytes,
                                 const std::function<bool()>& keepGoing = {});

    // The line gathered so far that no line end has completed.
    const std::string& Unfinished() const { return unfinished_; }
    void SetUnfinished(std::string text) { unfinished_ = std::move(text); }

    // A new run: nothing gathered, no carriage return pending.
    void Reset();

  private:
    std::string unfinished_;
    bool crAtEnd_ = false;  // the last byte walked was a carriage return
};
