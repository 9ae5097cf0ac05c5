#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kepsift.h"
#include "support.h"

namespace {

// Every line read_line yields from input, up to its first 0.
std::vector<std::string> lines_of(const std::string& input) {
    FILE* stream = test::open_input(input);
    std::vector<std::string> lines;
    input_line line{};
    while (read_line(line, stream) > 0) lines.emplace_back(line.chars, static_cast<std::size_t>(line.length));
    EXPECT_EQ(line.length, 0);
    EXPECT_TRUE(std::feof(stream));
    std::fclose(stream);
    return lines;
}

TEST(ReadLine, SplitsAtEveryKindOfLineEndAndDropsEmptyLines) {
    const std::string capacity_line(LINE_CAPACITY, 'a');
    struct Case {
        const char* name;
        std::string input;
        std::vector<std::string> lines;
    } cases[] = {
        {"empty input", "", {}},
        {"only line ends", "\n\r\n\r\r\n\n", {}},
        {"CR-LF then LF", "abc\r\ndef\n", {"abc", "def"}},
        {"bare CR", "abc\rdef\r", {"abc", "def"}},
        {"LF-CR is two ends, no empty line", "abc\n\rdef", {"abc", "def"}},
        {"blank lines between", "\n\nabc\n\n\r\n\ndef\n\n", {"abc", "def"}},
        {"final line without line end", "abc\ndef", {"abc", "def"}},
        {"single final character", "abc\nx", {"abc", "x"}},
        {"NUL and 255 are ordinary bytes", std::string("a\0b\xff", 4) + "\n", {std::string("a\0b\xff", 4)}},
        {"spaces and tabs make a line", " \t \n", {" \t "}},
        {"line of exactly the capacity", capacity_line + "\nnext\n", {capacity_line, "next"}},
        {"capacity line then CR-LF", capacity_line + "\r\nnext", {capacity_line, "next"}},
        {"bytes past the capacity are dropped to the line end",
         capacity_line + "bcdef\r\nnext\n",
         {capacity_line, "next"}},
        {"a long line at the end of input", "x\n" + capacity_line + "tail", {"x", capacity_line}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(lines_of(c.input), c.lines);
    }
}

TEST(ReadLine, KeepsReturningNothingAfterTheEnd) {
    FILE* stream = test::open_input("abc");
    input_line line{};
    EXPECT_EQ(read_line(line, stream), 3);
    EXPECT_EQ(read_line(line, stream), 0);
    EXPECT_EQ(read_line(line, stream), 0);
    EXPECT_EQ(line.length, 0);
    std::fclose(stream);
}

TEST(ReadLine, ReadErrorEndsTheInputAndIsLeftInTheStream) {
    // Reading a directory fails with EISDIR on the first read.
    FILE* stream = std::fopen("/", "rb");
    ASSERT_NE(stream, nullptr);
    input_line line{};
    EXPECT_EQ(read_line(line, stream), 0);
    EXPECT_EQ(line.length, 0);
    EXPECT_TRUE(std::ferror(stream));
    std::fclose(stream);
}

} // namespace
