#include "console/LineSplitter.h"

void LineSplitter::Reset() {
    unfinished_.clear();
    crAtEnd_ = false;
}

std::vector<TDelivery> LineSplitter::Split(std::string_view bytes,
                                           const std::function<bool()>& keepGoing) {
    std::vector<TDelivery> batch;
    // The unfinished line grows by what this read adds; it is never copied as a whole.
    std::string current = std::move(unfinished_);
    bool continued = !current.empty();  // still the line the last read left open
    const size_t count = bytes.size();
    size_t i = 0;
    char last = 0;
    bool walked = false;
    while (i < count && (!keepGoing || keepGoing())) {
        const char c = bytes[i];
        last = c;
        walked = true;
        if (c == 0) {
            ++i;
        } else if (c == '\n' && i == 0 && crAtEnd_) {
            ++i;  // completes a CR LF pair split across two reads
        } else if (c == '\n' || c == '\r') {
            TReturnCode rc = rcLF;
            if (c == '\r' && i + 1 < count && bytes[i + 1] == '\n') {
                ++i;
                last = '\n';
                rc = rcCRLF;
            }
            ++i;
            batch.push_back({std::move(current), otEntireLine, rc, !batch.empty()});
            current.clear();
            continued = false;
        } else {
            // Copy the run of ordinary bytes at once, up to the longest piece of a line.
            size_t end = i + 1;
            const size_t room = kMaxLinePiece - current.size();
            while (end < count && end - i < room && bytes[end] != 0 && bytes[end] != '\n' &&
                   bytes[end] != '\r') {
                ++end;
            }
            current.append(bytes.data() + i, end - i);
            last = bytes[end - 1];
            i = end;
            if (current.size() >= kMaxLinePiece) {
                batch.push_back({std::move(current), otEntireLine, -1, !batch.empty()});
                current.clear();
                continued = false;
            }
        }
    }
    if (walked) {
        crAtEnd_ = last == '\r';
    }
    if (!current.empty()) {
        batch.push_back({current, otBeginningOfLine, -1, !batch.empty(), continued});
    }
    unfinished_ = std::move(current);
    return batch;
}
