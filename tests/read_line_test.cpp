// SPDX-License-Identifier: ISC
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kepsift.h"
#include "support.h"

namespace {

class ReadLine : public test::engine_test {};
INSTANTIATE_TEST_SUITE_P(, ReadLine, testing::ValuesIn(built_engines()), test::engine_name);

// Every line read_line yields from input, up to its first 0, through a
// stream buffer of buffer_size bytes.
std::vector<std::string> lines_of(const std::string& input, std::size_t buffer_size = STREAM_BUFFER_SIZE) {
    FILE* stream = test::open_input(input);
    std::setvbuf(stream, nullptr, _IOFBF, buffer_size);
    const auto blocks = std::make_unique<input_blocks>();
    begin_input(*blocks, stream);
    std::vector<std::string> lines;
    input_line line{};
    while (read_line(line, *blocks) > 0)
        lines.emplace_back(line.chars, static_cast<std::size_t>(line.length));
    EXPECT_EQ(line.length, 0);
    EXPECT_EQ(blocks->error, 0);
    EXPECT_TRUE(std::feof(stream));
    std::fclose(stream);
    return lines;
}

struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
};

const std::vector<Case>& cases() {
    static const std::string capacity_line(LINE_CAPACITY, 'a');
    static const std::vector<Case> table = {
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
        {"lines of every length to 70",
         [] {
             std::string text;
             for (int length = 1; length <= 70; ++length)
                 text += std::string(static_cast<std::size_t>(length), 'x') + "\r\n";
             return text;
         }(),
         [] {
             std::vector<std::string> lines;
             for (int length = 1; length <= 70; ++length)
                 lines.emplace_back(static_cast<std::size_t>(length), 'x');
             return lines;
         }()},
        // Longer lines end at every place in the vectors the reader takes
        // past a set's length, one or two at a time.
        {"longer lines, ending everywhere",
         [] {
             std::string text;
             for (int length = 71; length <= 330; length += 9)
                 text += std::string(static_cast<std::size_t>(length), 'y') + "\n";
             return text;
         }(),
         [] {
             std::vector<std::string> lines;
             for (int length = 71; length <= 330; length += 9)
                 lines.emplace_back(static_cast<std::size_t>(length), 'y');
             return lines;
         }()},
    };
    return table;
}

TEST_P(ReadLine, SplitsAtEveryKindOfLineEndAndDropsEmptyLines) {
    // Small stream buffers make the library gather each block from many
    // reads.
    for (const std::size_t buffer_size :
         std::initializer_list<std::size_t>{1, 2, 3, 7, 16, 17, 100, STREAM_BUFFER_SIZE}) {
        for (const Case& c : cases()) {
            SCOPED_TRACE(std::string(c.name) + ", buffer of " + std::to_string(buffer_size));
            EXPECT_EQ(lines_of(c.input, buffer_size), c.lines);
        }
    }
}

TEST_P(ReadLine, SplitsTheSameWhereverABlockEnds) {
    // A first line puts the end of the first block at each place in each
    // case: inside a CR-LF, on the last byte before a line end, inside a
    // long line, between empty lines.
    for (const Case& c : cases()) {
        for (std::size_t before_end = 0; before_end <= c.input.size(); ++before_end) {
            if (before_end > 100 && before_end % 7 != 0 && before_end != c.input.size()) continue;
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(before_end) +
                         " bytes before the block's end");
            const std::string first(STREAM_BUFFER_SIZE - before_end - 1, 'f');
            std::vector<std::string> expected{first.substr(0, LINE_CAPACITY)};
            expected.insert(expected.end(), c.lines.begin(), c.lines.end());
            EXPECT_EQ(lines_of(first + "\n" + c.input), expected);
        }
    }
}

TEST_P(ReadLine, KeepsReturningNothingAfterTheEnd) {
    FILE* stream = test::open_input("abc");
    const auto blocks = std::make_unique<input_blocks>();
    begin_input(*blocks, stream);
    input_line line{};
    EXPECT_EQ(read_line(line, *blocks), 3);
    EXPECT_EQ(read_line(line, *blocks), 0);
    EXPECT_EQ(read_line(line, *blocks), 0);
    EXPECT_EQ(line.length, 0);
    std::fclose(stream);
}

TEST_P(ReadLine, ReadErrorEndsTheInputAndIsKept) {
    // Reading a directory fails with EISDIR on the first read.
    FILE* stream = std::fopen("/", "rb");
    ASSERT_NE(stream, nullptr);
    const auto blocks = std::make_unique<input_blocks>();
    begin_input(*blocks, stream);
    input_line line{};
    EXPECT_EQ(read_line(line, *blocks), 0);
    EXPECT_EQ(line.length, 0);
    EXPECT_EQ(blocks->error, EISDIR);
    EXPECT_TRUE(std::ferror(stream));
    std::fclose(stream);
}

} // namespace
