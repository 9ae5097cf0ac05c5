// SPDX-License-Identifier: ISC
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "kepsift.h"
#include "support.h"

namespace {

using test::as_input;
using test::GANNET;
using test::KESTREL;
using test::LANTERN;
using test::ORBITER;
using test::written;
using test::written_bare;

std::string pair_of(const test::element_set& set, const std::string& prefix = "") {
    return prefix + set.line_one + "\n" + prefix + set.line_two + "\n";
}

struct SiftCase {
    const char* name;
    std::string input;
    std::string output;
    std::int64_t sets;
};

// Bare pairs, then a set whose name makes the output one byte longer than
// a block: the last block holds the final LF alone.
SiftCase one_byte_past_a_block() {
    // A named set takes as many bytes as a bare pair and its name.
    const std::size_t pair_bytes = written_bare(ORBITER).size();
    const std::size_t before_set = STREAM_BUFFER_SIZE + 1 - pair_bytes;
    const std::size_t name_bytes = before_set % pair_bytes;
    const std::size_t pairs = before_set / pair_bytes;
    SiftCase c{"an output one byte longer than a block", "", "", static_cast<std::int64_t>(pairs) + 1};
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        c.input += pair_of(ORBITER);
        c.output += written_bare(ORBITER);
    }
    const std::string name(name_bytes, 'N');
    c.input += name + "\n" + pair_of(KESTREL);
    c.output += name + "\n" + pair_of(KESTREL);
    return c;
}

// The pair at the end of lines as long as their storage, after candidates
// crowded up to it ("1 1 1 ..." over "2 2 2 ...").
std::string crowded_pair(const test::element_set& set) {
    std::string text;
    for (const char line_number : {'1', '2'}) {
        std::string line;
        while (line.size() + 2 <= LINE_CAPACITY - SET_LINE_WIDTH) line += {line_number, ' '};
        line.resize(LINE_CAPACITY - SET_LINE_WIDTH, 'x');
        text += line + (line_number == '1' ? set.line_one : set.line_two) + "\n";
    }
    return text;
}

// ORBITER's pair at column 0 and KESTREL's at column 70 of the same lines.
std::string pairs_side_by_side() {
    return std::string(ORBITER.line_one) + " " + KESTREL.line_one + "\n" + ORBITER.line_two + " " +
           KESTREL.line_two + "\n";
}

// A name line that names no set at column 0 but one at column 70.
const std::string FAILS_AT_0 = "\x01" + std::string(SET_LINE_WIDTH, 'x');

class Sift : public test::engine_test {};
INSTANTIATE_TEST_SUITE_P(, Sift, testing::ValuesIn(built_engines()), test::engine_name);

template <std::size_t Count> void expect_sifted(const SiftCase (&cases)[Count]) {
    for (const SiftCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::int64_t sets = -1;
        EXPECT_EQ(test::sift_text(c.input, &sets), c.output);
        EXPECT_EQ(sets, c.sets);
    }
}

TEST_P(Sift, WritesEverySetInInputOrder) {
    const SiftCase cases[] = {
        {"empty input", "", "", 0},
        {"fewer than three lines", "one\ntwo\n", "", 0},
        {"one set", as_input(ORBITER), written(ORBITER), 1},
        {"two sets back to back", as_input(ORBITER) + as_input(KESTREL), written(ORBITER) + written(KESTREL),
         2},
        {"sets among prose",
         "Dear all,\nhere they are:\n\n" + as_input(ORBITER) + "and\n" + as_input(GANNET) + "bye\n",
         written(ORBITER) + written(GANNET), 2},
        {"quoted mail with CR-LF ends",
         "Hi\r\n" + as_input(ORBITER, "> ", "\r\n") + ">\r\n" + as_input(KESTREL, "> > ", "\r\n"),
         written(ORBITER) + written(KESTREL), 2},
        {"bare CR ends and blank lines inside the set",
         std::string(ORBITER.name) + "\r\r" + ORBITER.line_one + "\r\n\r\n" + ORBITER.line_two,
         written(ORBITER), 1},
        {"last line without a line end", as_input(ORBITER).substr(0, as_input(ORBITER).size() - 1),
         written(ORBITER), 1},
        {"a bad set is dropped, the next one kept",
         std::string("KESTREL\n") + KESTREL.line_one + "\n" + std::string(KESTREL.line_two, 68) + "0\n" +
             as_input(LANTERN),
         "LANTERN 12\n1 58011U 23155C   26341.12500000 -.00000020  00000 0 -10730-3 0 12345\n" +
             std::string(LANTERN.line_two) + "\n",
         1},
        {"lines of a written set are not reused",
         as_input(ORBITER) + KESTREL.line_one + "\n" + KESTREL.line_two + "\n",
         written(ORBITER) + written_bare(KESTREL), 2},
        one_byte_past_a_block(),
        {"crowded candidates up to a set that ends the lines' storage",
         std::string(LINE_CAPACITY - SET_LINE_WIDTH, '>') + ORBITER.name + "\n" + crowded_pair(ORBITER),
         written(ORBITER), 1},
        {"a pair under a name that fails, then a set further on",
         FAILS_AT_0 + KESTREL.name + "\n" + pairs_side_by_side(), written(KESTREL), 1},
    };
    expect_sifted(cases);
}

TEST_P(Sift, KeepsEveryBarePairWhole) {
    const SiftCase cases[] = {
        {"a single pair", pair_of(ORBITER), written_bare(ORBITER), 1},
        {"odd number of pairs", pair_of(ORBITER) + pair_of(KESTREL) + pair_of(GANNET),
         written_bare(ORBITER) + written_bare(KESTREL) + written_bare(GANNET), 3},
        {"even number of pairs, quoted", pair_of(ORBITER, "> ") + pair_of(KESTREL, "> "),
         written_bare(ORBITER) + written_bare(KESTREL), 2},
        {"pair, then a named set", pair_of(ORBITER) + as_input(KESTREL),
         written_bare(ORBITER) + written(KESTREL), 2},
        {"named set, then a pair at the end", as_input(ORBITER) + pair_of(KESTREL),
         written(ORBITER) + written_bare(KESTREL), 2},
        {"a line before the pairs names the first", "header\n" + pair_of(ORBITER) + pair_of(KESTREL),
         "header\n" + std::string(ORBITER.line_one) + "\n" + ORBITER.line_two + "\n" + written_bare(KESTREL),
         2},
        {"a line before a pair names it", "text\nmore text\n" + pair_of(ORBITER),
         "more text\n" + std::string(ORBITER.line_one) + "\n" + ORBITER.line_two + "\n", 1},
        {"a line that cannot be a name", "\x01note\n" + pair_of(ORBITER) + "end\n", written_bare(ORBITER), 1},
        {"pair, junk line, pair", pair_of(ORBITER) + "junk\n" + pair_of(KESTREL) + "junk\n",
         written_bare(ORBITER) + "junk\n" + KESTREL.line_one + "\n" + KESTREL.line_two + "\n", 2},
        {"the last pair after a slide", "\x01note\n" + pair_of(GANNET), written_bare(GANNET), 1},
        {"a pair that lost its line 1 names the next nothing",
         pair_of(ORBITER) + KESTREL.line_two + "\n" + pair_of(GANNET),
         written_bare(ORBITER) + written_bare(GANNET), 2},
        {"a pair that lost its line 2 names the next nothing",
         pair_of(ORBITER) + KESTREL.line_one + "\n" + pair_of(GANNET),
         written_bare(ORBITER) + written_bare(GANNET), 2},
        {"crowded candidates up to a pair that ends the lines' storage", crowded_pair(ORBITER),
         written_bare(ORBITER), 1},
        {"pairs under names that fail: the leftmost is kept", FAILS_AT_0 + "\x01\n" + pairs_side_by_side(),
         written_bare(ORBITER), 1},
    };
    expect_sifted(cases);
}

TEST_P(Sift, NamesSetsAsPeopleWriteThem) {
    // The name a person reads off the page, whatever the indents of the
    // three lines and a byte-order mark before them.
    const std::string mark = "\xEF\xBB\xBF";
    const auto set = [](const std::string& name, const std::string& prefix, const test::element_set& lines) {
        return name + "\n" + prefix + lines.line_one + "\n" + prefix + lines.line_two + "\n";
    };
    const auto named = [](const std::string& name, const test::element_set& lines) {
        return name + "\n" + lines.line_one + "\n" + lines.line_two + "\n";
    };
    const SiftCase cases[] = {
        {"GPS names with a pair of spaces", set("GPS BIIR-2  (PRN 13)    ", "", ORBITER),
         named("GPS BIIR-2  (PRN 13)", ORBITER), 1},
        {"flush left over indented lines",
         set("NOAA 15", "      ", ORBITER) + set("METEOR-M 2", "\t", KESTREL),
         named("NOAA 15", ORBITER) + named("METEOR-M 2", KESTREL), 2},
        {"an indented name over lines at column 0", set("  ISS", "", ORBITER), named("ISS", ORBITER), 1},
        {"a short name over deeply indented lines", set("ISS", "        ", ORBITER), named("ISS", ORBITER),
         1},
        {"names that start outside ASCII",
         set("\xC3\x89TOILE 1", "", ORBITER) + set("\xD8rsted", "  ", KESTREL),
         named("\xC3\x89TOILE 1", ORBITER) + named("\xD8rsted", KESTREL), 2},
        {"quoted mail keeps its rule", set("> > ISS (ZARYA)", "> > ", ORBITER), named("ISS (ZARYA)", ORBITER),
         1},
        {"a byte-order mark before a name", mark + as_input(ORBITER), written(ORBITER), 1},
        {"a byte-order mark before a bare pair", mark + pair_of(ORBITER) + pair_of(KESTREL),
         written_bare(ORBITER) + written_bare(KESTREL), 2},
        {"a byte-order mark before indented lines", mark + set("ISS", "   ", ORBITER), named("ISS", ORBITER),
         1},
        {"a byte-order mark alone", mark, "", 0},
        {"a byte-order mark further on is a byte", as_input(ORBITER) + mark + pair_of(KESTREL),
         written(ORBITER), 1},
        {"files joined with a mark before a name", as_input(ORBITER) + mark + as_input(KESTREL),
         written(ORBITER) + written(KESTREL), 2},
        {"a mark inside a name stays", "ISS " + mark + "1\n" + pair_of(ORBITER),
         named("ISS " + mark + "1", ORBITER), 1},
        {"half a byte-order mark is a byte", "\xEF\xBB" + pair_of(ORBITER), "", 0},
    };
    expect_sifted(cases);
}

TEST_P(Sift, FindsEverySetAcrossManyStreamBuffers) {
    // Sets at shifting prefixes, so that buffer ends fall everywhere in them.
    std::string input;
    std::string expected;
    for (int copy = 0; copy < 500; ++copy) {
        input += as_input(copy % 2 ? ORBITER : KESTREL, std::string(static_cast<std::size_t>(copy % 7), ' '),
                          copy % 3 ? "\n" : "\r\n");
        expected += written(copy % 2 ? ORBITER : KESTREL);
    }
    std::int64_t sets = -1;
    EXPECT_EQ(test::sift_text(input, &sets), expected);
    EXPECT_EQ(sets, 500);
}

TEST_P(Sift, OutputFiltersToItself) {
    const std::string output =
        test::sift_text(pair_of(ORBITER) + as_input(LANTERN, "> ") + as_input(GANNET, "", "\r\n"));
    EXPECT_EQ(test::sift_text(output), output);
}

} // namespace
