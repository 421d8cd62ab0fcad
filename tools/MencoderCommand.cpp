#include "tools/MencoderCommand.h"

#include <set>

#include "tools/AdapterSupport.h"

namespace adapter {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string Join(const std::vector<std::string>& parts, char separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            text += separator;
        }
        text += parts[i];
    }
    return text;
}

std::string NameOf(const std::string& item) {
    return item.substr(0, item.find('='));
}

// Options of the program's command lines (and a few neighbours) that take a value, so that a
// value is never mistaken for an option of its own.
const std::set<std::string> kValueOptions = {
    "-o",           "-x264encopts", "-vf",  "-vf-add",    "-vf-pre",     "-af",
    "-mc",          "-of",          "-ovc", "-oac",       "-dvd-device", "-demuxer",
    "-passlogfile", "-ofps",        "-fps", "-lavdopts",  "-aid",        "-vid",
    "-ss",          "-endpos",      "-sws", "-audiofile", "-sub",
};

}  // namespace

std::string TranslateX264Options(const std::string& options) {
    std::vector<std::string> kept;
    for (const std::string& item : Split(options, ':')) {
        const std::string name = NameOf(item);
        if (name == "bime" || name == "brdo" || name == "nobime" || name == "nobrdo") {
            continue;
        }
        if (item == "b_pyramid") {
            kept.push_back("b_pyramid=normal");
        } else if (item == "nob_pyramid") {
            kept.push_back("b_pyramid=none");
        } else {
            kept.push_back(item);
        }
    }
    return Join(kept, ':');
}

std::string TranslateFilterChain(const std::string& chain) {
    const std::vector<std::string> filters = Split(chain, ',');
    std::vector<std::string> out;
    for (size_t i = 0; i < filters.size(); ++i) {
        const std::string name = NameOf(filters[i]);
        if (name == "fspp") {
            // fspp's parameters do not carry over to pp7; its defaults match fspp's.
            out.push_back("pp7");
        } else {
            out.push_back(filters[i]);
        }
        if (name == "kerndeint" && (i + 1 == filters.size() || NameOf(filters[i + 1]) != "scale")) {
            out.push_back("scale");
        }
    }
    return Join(out, ',');
}

MencoderPlan PlanMencoder(const std::vector<std::string>& args) {
    MencoderPlan plan;
    if (args.empty() || args[0].empty()) {
        plan.error = "no source given";
        return plan;
    }
    const std::string& source = args[0];
    const bool isUrl = source.find("://") != std::string::npos;

    std::vector<std::string> rest;
    bool hasDemuxer = false;
    bool hasPassLog = false;
    bool hasNoSkip = false;
    bool softSkip = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-noskip") {
            hasNoSkip = true;
        }
        if (!kValueOptions.count(arg)) {
            rest.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) {
            plan.error = "option " + arg + " needs a value";
            return plan;
        }
        std::string value = args[++i];
        if (arg == "-o") {
            plan.streamPath = value;
        } else if (arg == "-x264encopts") {
            value = TranslateX264Options(value);
        } else if (arg == "-vf" || arg == "-vf-add" || arg == "-vf-pre") {
            value = TranslateFilterChain(value);
            for (const std::string& filter : Split(value, ',')) {
                softSkip = softSkip || NameOf(filter) == "softskip";
            }
        } else if (arg == "-demuxer") {
            hasDemuxer = true;
        } else if (arg == "-passlogfile") {
            hasPassLog = true;
        }
        rest.push_back(arg);
        rest.push_back(value);
    }
    if (plan.streamPath.empty()) {
        plan.error = "no output stream given (-o FILE)";
        return plan;
    }

    plan.argv.push_back("mencoder");
    // mencoder's own demuxers freeze the picture of AVIs whose first video slot is empty, read
    // ASF files as 1000 fps, and put the picture of a DVD a frame late; libavformat reads them,
    // and the other file types, correctly. (DVD reading itself stays with mencoder's dvd://.)
    if (!hasDemuxer) {
        plan.argv.insert(plan.argv.end(), {"-demuxer", "lavf"});
    }
    // "-mc 0" without "-noskip" drops or repeats frames around decoder delay (a frame lost and
    // the picture a frame early for sources with B-frames). softskip is the one filter that
    // relies on mencoder's frame skipping (pullup drops the telecine frames through it).
    if (!hasNoSkip && !softSkip) {
        plan.argv.push_back("-noskip");
    }
    // The two-pass statistics belong beside the stream, not in whatever folder is current.
    if (!hasPassLog) {
        plan.argv.insert(plan.argv.end(),
                         {"-passlogfile", FolderOf(plan.streamPath) + "/divx2pass.log"});
    }
    plan.argv.push_back(isUrl ? source : SafePathArgument(source));
    plan.argv.insert(plan.argv.end(), rest.begin(), rest.end());
    return plan;
}

}  // namespace adapter
