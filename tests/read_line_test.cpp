// SPDX-License-Identifier: ISC
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kepsift.h"
#include "support.h"

namespace {

// Every line read_line yields from input, up to its first 0, through a
// stream buffer of buffer_size bytes.
std::vector<std::string> lines_of(const std::string& input, std::size_t buffer_size) {
    FILE* stream = test::open_input(input);
    std::setvbuf(stream, nullptr, _IOFBF, buffer_size);
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
        {"one short of the capacity", capacity_line.substr(1) + "\r\n", {capacity_line.substr(1)}},
        {"lines of every length to 40",
         [] {
             std::string text;
             for (int length = 1; length <= 40; ++length)
                 text += std::string(static_cast<std::size_t>(length), 'x') + "\r\n";
             return text;
         }(),
         [] {
             std::vector<std::string> lines;
             for (int length = 1; length <= 40; ++length)
                 lines.emplace_back(static_cast<std::size_t>(length), 'x');
             return lines;
         }()},
    };
    // Small buffers put a buffer's end at every place in a line: inside a
    // CR-LF, on the last byte before a line end, inside a long line.
    for (const std::size_t buffer_size : {1, 2, 3, 7, 16, 17, 100, STREAM_BUFFER_SIZE}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", buffer of " + std::to_string(buffer_size));
            EXPECT_EQ(lines_of(c.input, buffer_size), c.lines);
        }
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
