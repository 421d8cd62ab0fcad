#include "pipeline/AnalysisOutput.h"

namespace {

bool StartsWith(const std::string& line, const char* prefix) {
    return line.rfind(prefix, 0) == 0;
}

bool IsSeparator(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

// One left-to-right pass: three blanks become two, four become two.
std::string CollapseDoubleBlanks(const std::string& line) {
    std::string result;
    result.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        result += line[i];
        if (line[i] == ' ' && i + 1 < line.size() && line[i + 1] == ' ') {
            ++i;
        }
    }
    return result;
}

}  // namespace

bool HasAudio(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (StartsWith(line, "AUDIO")) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        while (i < n && IsSeparator(line[i])) {
            ++i;
        }
        if (i >= n || line[i] == '\0') {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            while (i < n) {
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        word += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                word += line[i++];
            }
        } else {
            while (i < n && !IsSeparator(line[i]) && line[i] != '\0') {
                word += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::optional<std::string> FrameRate(const std::vector<std::string>& lines,
                                     const std::vector<bool>& unfinished) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!StartsWith(lines[i], "VIDEO")) {
            continue;
        }
        // A line that arrived in pieces is read once it is whole: its unfinished start would give
        // a word of its middle. One that never was completed is read as far as it came.
        size_t whole = i;
        while (whole < unfinished.size() && unfinished[whole] && whole + 1 < lines.size() &&
               lines[whole + 1].compare(0, lines[whole].size(), lines[whole]) == 0) {
            ++whole;
        }
        const std::vector<std::string> words = SplitWords(CollapseDoubleBlanks(lines[whole]));
        if (words.size() < 5) {
            return std::nullopt;
        }
        return words[4];
    }
    return std::nullopt;
}
