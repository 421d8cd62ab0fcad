#pragma once

// Turns the command line the program gives its "mencoder.exe" slot into one that Debian's
// mencoder and today's x264 accept and encode correctly.

#include <string>
#include <vector>

namespace adapter {

// x264 options: "b_pyramid" (a switch in old x264) becomes "b_pyramid=normal", "nob_pyramid"
// "b_pyramid=none"; "bime" and "brdo" (removed from x264) are dropped. Others stay as given.
std::string TranslateX264Options(const std::string& options);

// Video filters: "fspp" (no longer built into mencoder) becomes "pp7" of the same family, and
// "kerndeint" gets a "scale" behind it unless one follows already (it cannot hand its picture on
// to the next filter otherwise).
std::string TranslateFilterChain(const std::string& chain);

struct MencoderPlan {
    std::string error;              // set when the command line cannot be read
    std::vector<std::string> argv;  // the real mencoder's command line, "mencoder" first
    std::string streamPath;         // the file after "-o"
};

// args are the adapter's arguments without its own name: the source first (a file, or a URL
// such as "dvd://1"), then mencoder options, among them "-o STREAM".
MencoderPlan PlanMencoder(const std::vector<std::string>& args);

}  // namespace adapter
