#include "tools/MencoderCommand.h"

#include <cstdlib>
#include <map>
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

std::string NameOf(const std::string& item) {
    return item.substr(0, item.find('='));
}

std::string ValueOf(const std::string& item) {
    const size_t eq = item.find('=');
    return eq == std::string::npos ? std::string() : item.substr(eq + 1);
}

// A whole-text integer, sign allowed.
std::optional<long> ParseInteger(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// mencoder's x264encopts switches whose x264 name differs.
const std::map<std::string, std::string> kRenamed = {
    {"frameref", "ref"},          {"subq", "subme"},
    {"weight_b", "weightb"},      {"b_pyramid", "b-pyramid"},
    {"8x8dct", "8x8dct"},         {"4x4mv", "partitions"},
    {"keyint_min", "min-keyint"}, {"b_adapt", "b-adapt"},
    {"b_bias", "b-bias"},         {"nr", "nr"},
};

// What x264's fast first pass sets for itself: mencoder's turbo overrode them the same way.
const std::set<std::string> kFastFirstPass = {"ref",        "8x8dct",     "partitions",
                                              "me",         "subme",      "trellis",
                                              "fast-pskip", "mixed-refs", "no-dct-decimate"};

std::string X264Name(const std::string& name) {
    const auto renamed = kRenamed.find(name);
    std::string x264 = renamed != kRenamed.end() ? renamed->second : name;
    for (char& c : x264) {
        if (c == '_') {
            c = '-';
        }
    }
    return x264;
}

// The x264 options that are switches: a bare name turns them on, "no" before it off.
const std::set<std::string> kSwitches = {
    "8x8dct",        "weightb",
    "mixed-refs",    "fast-pskip",
    "psnr",          "ssim",
    "cabac",         "deblock",
    "mbtree",        "dct-decimate",
    "chroma-me",     "interlaced",
    "aud",           "global-header",
    "bluray-compat", "constrained-intra",
    "open-gop",      "slow-firstpass",
    "intra-refresh", "tff",
    "bff",           "fake-interlaced",
    "psy",           "b-pyramid",
    "visualize",     "dts-compress",
    "nal-hrd",       "pic-struct",
    "cbr",           "nointerlaced",
};

// mencoder's "l|cWxH:amount[:l|cWxH:amount]" (the size may follow its letter after a colon, as
// in "l5x5:0.5:c:5x5:0.5"; "a" or no letter sets both) as ffmpeg's positional parameters.
std::optional<std::string> TranslateUnsharp(const std::string& parameters) {
    struct Mask {
        std::string x = "5", y = "5", amount = "0";
    };
    Mask luma, chroma;
    Mask* target = nullptr;
    bool both = false;
    bool wantSize = false;
    for (const std::string& token : Split(parameters, ':')) {
        std::string rest = token;
        const char letter = rest.empty() ? '\0' : rest[0];
        if (letter == 'l' || letter == 'c' || letter == 'a' || !target) {
            both = letter == 'a' || (letter != 'l' && letter != 'c');
            target = letter == 'c' ? &chroma : &luma;
            if (letter == 'l' || letter == 'c' || letter == 'a') {
                rest = rest.substr(1);
            }
            wantSize = true;
            if (rest.empty()) {
                continue;
            }
        }
        if (wantSize) {
            const size_t x = rest.find('x');
            target->x = rest.substr(0, x);
            target->y = x == std::string::npos ? target->x : rest.substr(x + 1);
            wantSize = false;
        } else {
            target->amount = rest;
        }
        if (both) {
            chroma = luma;
        }
    }
    for (const Mask* mask : {&luma, &chroma}) {
        for (const std::string* value : {&mask->x, &mask->y, &mask->amount}) {
            if (value->empty() || value->find_first_not_of("0123456789.-") != std::string::npos) {
                return std::nullopt;
            }
        }
    }
    return "unsharp=" + luma.x + ":" + luma.y + ":" + luma.amount + ":" + chroma.x + ":" +
           chroma.y + ":" + chroma.amount;
}

// One side of mencoder's scale as an ffmpeg expression.
std::optional<std::string> ScaleSide(const std::string& value, bool width) {
    const std::string input = width ? "iw" : "ih";
    if (value.empty()) {
        return input;
    }
    const auto number = ParseInteger(value);
    if (!number) {
        return std::nullopt;
    }
    const std::string fromDisplay = width ? "oh*dar" : "ow/dar";
    switch (*number) {
        case 0:
            return width ? std::string("2*trunc(iw*sar/2)") : std::string("ih");
        case -1:
            return input;
        case -2:
            return std::string("-2");
        case -3:
            return "2*trunc(" + fromDisplay + "/2)";
        case -9:
            return "16*trunc(" + input + "/16)";
        case -10:
            return std::string("-16");
        case -11:
            return "16*trunc(" + fromDisplay + "/16)";
        default:
            if (*number > 0) {
                return value;
            }
            return std::nullopt;
    }
}

}  // namespace

X264Plan TranslateX264Options(const std::string& options) {
    X264Plan plan;
    std::vector<std::string> items;
    for (const std::string& item : Split(options, ':')) {
        if (item.empty()) {
            continue;
        }
        const std::string name = NameOf(item);
        const bool hasValue = item.find('=') != std::string::npos;
        const std::string value = ValueOf(item);
        if (name == "pass" || name == "turbo") {
            const auto number = ParseInteger(value);
            if (!number || *number < 0 || *number > 3) {
                plan.error = "x264encopts: " + item + " is not understood";
                return plan;
            }
            (name == "pass" ? plan.pass : plan.turbo) = static_cast<int>(*number);
            continue;
        }
        if (name == "bime" || name == "brdo" || name == "nobime" || name == "nobrdo") {
            continue;
        }
        if (name == "bitrate") {
            const auto number = ParseInteger(value);
            if (!number || *number <= 0) {
                plan.error = "x264encopts: the bitrate \"" + value + "\" is not a number of kbit/s";
                return plan;
            }
        }
        if (hasValue) {
            std::string x264 = X264Name(name);
            if (x264 == "b-pyramid" && (value == "1" || value == "2")) {
                items.push_back("b-pyramid=" + std::string(value == "1" ? "strict" : "normal"));
            } else if (x264 == "partitions" && name == "4x4mv") {
                items.push_back(item);  // left for x264 to judge
            } else {
                items.push_back(x264 + "=" + value);
            }
            continue;
        }
        // A switch: "name" on, "noname" off.
        std::string x264 = X264Name(name);
        bool on = true;
        if (!kSwitches.count(x264) && x264.rfind("no", 0) == 0) {
            x264 = X264Name(x264.substr(x264[2] == '-' ? 3 : 2));
            on = false;
        }
        if (x264 == "b-pyramid") {
            items.push_back(std::string("b-pyramid=") + (on ? "normal" : "none"));
        } else {
            items.push_back(x264 + "=" + (on ? "1" : "0"));
        }
    }
    for (const std::string& item : items) {
        if (plan.pass == 1 && plan.turbo > 0 && kFastFirstPass.count(NameOf(item))) {
            continue;
        }
        plan.params.push_back(item);
    }
    return plan;
}

std::optional<std::string> TranslateScale(const std::string& parameters) {
    const std::vector<std::string> parts = Split(parameters, ':');
    const std::string w = parts[0];
    const std::string h = parts.size() > 1 ? parts[1] : "";
    const auto width = ScaleSide(w, true);
    const auto height = ScaleSide(h, false);
    if (!width || !height) {
        return std::nullopt;
    }
    std::string filter;
    if (*width != "iw" || *height != "ih") {
        filter = "scale=w=" + *width + ":h=" + *height;
    }
    if (parts.size() > 2 && parts[2] == "1") {
        filter = (filter.empty() ? "scale=w=iw:h=ih" : filter) + ":interl=1";
    }
    return filter;
}

FilterPlan TranslateFilterChain(const std::string& chain) {
    FilterPlan plan;
    for (const std::string& item : Split(chain, ',')) {
        const std::string name = NameOf(item);
        const std::string value = ValueOf(item);
        const bool hasValue = item.find('=') != std::string::npos;
        if (item.empty() || name == "harddup" || name == "softskip") {
            continue;
        }
        // Parameters are numbers, letters and their separators: nothing that ffmpeg's graph
        // parser would take for a link label, a further filter or a quoted text.
        if (item.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789=:.-_/|+") != std::string::npos) {
            plan.error = "the filter " + item + " is not understood";
            return plan;
        }
        if (name == "kerndeint" || name == "pullup" || name == "hqdn3d" || name == "crop" ||
            name == "yadif") {
            // Positional parameters in the same order in both.
            plan.filters.push_back(item);
            plan.pullup = plan.pullup || name == "pullup";
        } else if (name == "scale") {
            const auto scale = TranslateScale(value);
            if (!scale) {
                plan.error = "the size " + value + " is not understood";
                return plan;
            }
            if (!scale->empty()) {
                plan.filters.push_back(*scale);
            }
        } else if (name == "unsharp") {
            const auto unsharp = TranslateUnsharp(value);
            if (!unsharp) {
                plan.error = "the filter " + item + " is not understood";
                return plan;
            }
            plan.filters.push_back(hasValue ? *unsharp : "unsharp");
        } else if (name == "fspp") {
            // fspp's parameters are quality:qp:strength:use_bframe_qp, as ffmpeg's.
            plan.sourceFilters.push_back(item);
            plan.needsQuantizers = true;
        } else if (name == "pp7" || name == "spp") {
            plan.sourceFilters.push_back(item);
            plan.needsQuantizers = true;
        } else if (name == "pp") {
            // libpostproc's option separator ":" is ffmpeg's "|".
            std::string subfilters = value;
            for (char& c : subfilters) {
                if (c == ':') {
                    c = '|';
                }
            }
            plan.sourceFilters.push_back(subfilters.empty() ? "pp" : "pp=" + subfilters);
            plan.needsQuantizers = true;
        } else {
            plan.error = "the filter " + name + " is not supported";
            return plan;
        }
    }
    return plan;
}

MencoderRequest ParseMencoderCommand(const std::vector<std::string>& args) {
    MencoderRequest request;
    if (args.empty() || args[0].empty()) {
        request.error = "no source given";
        return request;
    }
    const std::string& source = args[0];
    if (source.rfind("dvd://", 0) == 0) {
        request.dvd = true;
        const std::string title = source.substr(6);
        const auto number = title.empty() ? std::optional<long>(1) : ParseInteger(title);
        if (!number || *number < 1 || *number > 99) {
            request.error = "no such DVD title: " + source;
            return request;
        }
        request.dvdTitle = static_cast<int>(*number);
    } else {
        request.source = source;
    }

    // Options that take a value; those the engine has no use for (audio, demuxer choice) are
    // read and left alone.
    static const std::set<std::string> kIgnoredValues = {"-mc",  "-oac",   "-demuxer", "-lavdopts",
                                                         "-aid", "-sws",   "-af",      "-audiofile",
                                                         "-sub", "-alang", "-slang",   "-sid"};
    static const std::set<std::string> kIgnoredSwitches = {"-nosound", "-noskip", "-quiet",
                                                           "-really-quiet", "-nocache"};
    std::vector<std::string> pre, main, add;
    bool haveOutput = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (kIgnoredSwitches.count(arg)) {
            continue;
        }
        static const std::set<std::string> kValues = {
            "-o",  "-x264encopts", "-vf",         "-vf-add",      "-vf-pre",
            "-of", "-ovc",         "-dvd-device", "-passlogfile", "-ofps"};
        if (!kValues.count(arg) && !kIgnoredValues.count(arg)) {
            request.error = "unexpected argument \"" + arg + "\"";
            return request;
        }
        if (i + 1 >= args.size()) {
            request.error = "option " + arg + " needs a value";
            return request;
        }
        const std::string& value = args[++i];
        if (arg == "-o") {
            request.streamPath = value;
            haveOutput = true;
        } else if (arg == "-x264encopts") {
            request.x264Options += (request.x264Options.empty() ? "" : ":") + value;
        } else if (arg == "-vf") {
            main = {value};
        } else if (arg == "-vf-pre") {
            pre.insert(pre.begin(), value);
        } else if (arg == "-vf-add") {
            add.push_back(value);
        } else if (arg == "-of") {
            if (value != "rawvideo") {
                request.error = "only -of rawvideo is supported, not " + value;
                return request;
            }
        } else if (arg == "-ovc") {
            if (value != "x264") {
                request.error = "only -ovc x264 is supported, not " + value;
                return request;
            }
        } else if (arg == "-dvd-device") {
            if (request.dvd) {
                request.source = value;
            }
        } else if (arg == "-passlogfile") {
            request.statsPath = value;
        } else if (arg == "-ofps") {
            const auto rate = ParsePositiveNumber(value);
            if (!rate) {
                request.error = "-ofps " + value + " is not a frame rate";
                return request;
            }
            request.outputRate = FrameRateFromDecimal(*rate);
        }
    }
    if (!haveOutput || request.streamPath.empty()) {
        request.error = "no output stream given (-o FILE)";
        return request;
    }
    if (request.dvd && request.source.empty()) {
        request.error = "no DVD folder given (-dvd-device FOLDER)";
        return request;
    }
    for (const std::vector<std::string>* part : {&pre, &main, &add}) {
        for (const std::string& chain : *part) {
            request.filterChain += (request.filterChain.empty() ? "" : ",") + chain;
        }
    }
    if (request.statsPath.empty()) {
        // The two-pass statistics belong beside the stream, not in whatever folder is current.
        request.statsPath = FolderOf(request.streamPath) + "/divx2pass.log";
    }
    return request;
}

}  // namespace adapter
