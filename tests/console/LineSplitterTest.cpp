// The splitting of a child's bytes into lines, on its own: every rule, and every way a text can be
// cut into reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/LineSplitter.h"

namespace {

constexpr TOutputType E = otEntireLine;
constexpr TOutputType B = otBeginningOfLine;

struct Piece {
    std::string line;
    TOutputType kind;
    int returnCode;
    bool operator==(const Piece&) const = default;
};

void PrintTo(const Piece& p, std::ostream* os) {
    *os << (p.kind == E ? "E" : "B") << p.returnCode << "\"" << p.line << "\"";
}

std::vector<Piece> Pieces(const std::vector<TDelivery>& batch) {
    std::vector<Piece> pieces;
    for (const TDelivery& d : batch) {
        pieces.push_back({d.line, d.kind, d.returnCode});
    }
    return pieces;
}

// Every complete line of a text split into `reads`, and what is left open at the end.
struct Outcome {
    std::vector<std::string> lines;
    std::string open;
};

Outcome SplitInReads(const std::vector<std::string>& reads) {
    LineSplitter splitter;
    Outcome outcome;
    for (const std::string& read : reads) {
        for (const TDelivery& d : splitter.Split(read)) {
            if (d.kind == E) {
                outcome.lines.push_back(d.line);
            }
        }
    }
    outcome.open = splitter.Unfinished();
    return outcome;
}

}  // namespace

TEST(LineSplitter, OneReadDeliversAsTheRulesSay) {
    const std::string big(kMaxLinePiece, 'x');
    struct Case {
        const char* name;
        std::string read;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {"CR LF", "a\r\nb\r\n", {{"a", E, rcCRLF}, {"b", E, rcCRLF}}},
        {"LF", "a\nb\n", {{"a", E, rcLF}, {"b", E, rcLF}}},
        {"lone CR", "10%\r20%\r", {{"10%", E, rcLF}, {"20%", E, rcLF}}},
        {"two LFs give an empty line", "a\n\nb", {{"a", E, rcLF}, {"", E, rcLF}, {"b", B, -1}}},
        {"LF CR is two ends", "a\n\rb", {{"a", E, rcLF}, {"", E, rcLF}, {"b", B, -1}}},
        {"NULs dropped", std::string("\0a\0b\n\0", 6), {{"ab", E, rcLF}}},
        {"unfinished start", "abc", {{"abc", B, -1}}},
        {"a long line is cut", big + "yz", {{big, E, -1}, {"yz", B, -1}}},
        {"exactly the longest piece", big, {{big, E, -1}}},
        {"nothing", "", {}},
    };
    for (const Case& c : cases) {
        LineSplitter splitter;
        EXPECT_EQ(Pieces(splitter.Split(c.read)), c.pieces) << c.name;
    }
}

TEST(LineSplitter, LaterReadsExtendTheOpenLine) {
    LineSplitter splitter;
    std::vector<TDelivery> first = splitter.Split("ab");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_FALSE(first[0].grows);
    std::vector<TDelivery> second = splitter.Split("cd");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].line, "abcd");
    EXPECT_EQ(second[0].kind, B);
    EXPECT_TRUE(second[0].grows);
    EXPECT_EQ(Pieces(splitter.Split("e\nf")),
              (std::vector<Piece>{{"abcde", E, rcLF}, {"f", B, -1}}));
    EXPECT_EQ(splitter.Unfinished(), "f");

    // A CR that ends a read, then the LF that starts the next: one line end, told as CR alone.
    LineSplitter pair;
    EXPECT_EQ(Pieces(pair.Split("a\r")), (std::vector<Piece>{{"a", E, rcLF}}));
    EXPECT_EQ(Pieces(pair.Split("\nb\n")), (std::vector<Piece>{{"b", E, rcLF}}));
    pair.Reset();
    EXPECT_EQ(Pieces(pair.Split("\n")), (std::vector<Piece>{{"", E, rcLF}}));
}

TEST(LineSplitter, AStopDropsTheRestOfTheRead) {
    LineSplitter splitter;
    int steps = 0;
    const std::vector<TDelivery> batch =
        splitter.Split("one\ntwo\nthree\n", [&steps] { return ++steps <= 3; });
    EXPECT_EQ(Pieces(batch), (std::vector<Piece>{{"one", E, rcLF}, {"two", B, -1}}));
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_FALSE(batch[0].droppable);
    EXPECT_TRUE(batch[1].droppable);
    EXPECT_EQ(splitter.Unfinished(), "two");
}

// Where a text can be cut: everywhere in a short one; in a long one around its ends and around
// the place where the longest piece of a line is cut off.
std::vector<size_t> Cuts(const std::string& text) {
    std::vector<size_t> cuts;
    for (size_t at = 0; at <= text.size(); ++at) {
        const bool nearEnd = at < 12 || at + 12 > text.size();
        const bool nearPiece = at + 8 > kMaxLinePiece && at < kMaxLinePiece + 8;
        if (text.size() < 200 || nearEnd || nearPiece) {
            cuts.push_back(at);
        }
    }
    return cuts;
}

TEST(LineSplitter, EveryCutIntoReadsGivesTheSameLines) {
    const std::string texts[] = {
        "a\r\nbc\rdef\n\nghi",
        "\r\n\r\n",
        std::string("x\0y\r\r\nz", 8),
        "Pos:   1.0s     25f (4%)\rPos:   2.0s     50f (8%)\r",
        std::string(kMaxLinePiece - 2, 'l') + "abcd\r\nend",
    };
    for (const std::string& text : texts) {
        const Outcome whole = SplitInReads({text});
        const std::vector<size_t> cuts = Cuts(text);
        for (size_t first : cuts) {
            for (size_t second : cuts) {
                if (second < first) {
                    continue;
                }
                const Outcome pieces =
                    SplitInReads({text.substr(0, first), text.substr(first, second - first),
                                  text.substr(second)});
                ASSERT_EQ(pieces.lines, whole.lines) << "cuts at " << first << " and " << second;
                ASSERT_EQ(pieces.open, whole.open) << "cuts at " << first << " and " << second;
            }
        }
    }
}
