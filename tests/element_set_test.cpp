// SPDX-License-Identifier: ISC
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "kepsift.h"
#include "layout.h"
#include "reference.h"
#include "support.h"

namespace {

using test::GANNET;
using test::KESTREL;
using test::LANTERN;
using test::ORBITER;

using reference::code_accepts;
using reference::LINE_ONE_LAYOUT;
using reference::LINE_TWO_LAYOUT;

// The line with column 69 set by the plain rule.
std::string with_check_digit(std::string line) {
    line[68] = reference::plain_check_digit(line);
    return line;
}

line_window make_window(const std::string& name, const std::string& one, const std::string& two) {
    return {test::make_line(name), test::make_line(one), test::make_line(two)};
}

line_window window_of(const test::element_set& set, const std::string& prefix = "") {
    return make_window(prefix + set.name, prefix + set.line_one, prefix + set.line_two);
}

// The window with its slot (1 or 2) cut short by one byte: the bytes past
// its end are still in the record, as a longer line read before left them,
// and make a set there that the line no longer holds.
line_window cut_short(line_window window, int slot) {
    --(slot == 1 ? window.line_one : window.line_two).length;
    return window;
}

class CheckSetAt : public test::engine_test {};
class FindSet : public test::engine_test {};
class FindBarePair : public test::engine_test {};
class SearchWindow : public test::engine_test {};
class NormaliseSetLine : public test::engine_test {};
class WriteSet : public test::engine_test {};
class WriteBarePair : public test::engine_test {};
INSTANTIATE_TEST_SUITE_P(, CheckSetAt, testing::ValuesIn(built_engines()), test::engine_name);
INSTANTIATE_TEST_SUITE_P(, FindSet, testing::ValuesIn(built_engines()), test::engine_name);
INSTANTIATE_TEST_SUITE_P(, FindBarePair, testing::ValuesIn(built_engines()), test::engine_name);
INSTANTIATE_TEST_SUITE_P(, SearchWindow, testing::ValuesIn(built_engines()), test::engine_name);
INSTANTIATE_TEST_SUITE_P(, NormaliseSetLine, testing::ValuesIn(built_engines()), test::engine_name);
INSTANTIATE_TEST_SUITE_P(, WriteSet, testing::ValuesIn(built_engines()), test::engine_name);
INSTANTIATE_TEST_SUITE_P(, WriteBarePair, testing::ValuesIn(built_engines()), test::engine_name);

TEST_P(CheckSetAt, EveryByteInEveryColumnIsClassedAsTheLayoutSays) {
    // The engine's class form against the program's class table and the
    // template reader, and both against the layout as a user writes it
    // down: 256 bytes in each column before the check digit, with the check
    // digit made right for the changed line.
    for (int slot = 1; slot <= 2; ++slot) {
        const std::string_view layout = slot == 1 ? LINE_ONE_LAYOUT : LINE_TWO_LAYOUT;
        const layout::compiled_template& columns =
            slot == 1 ? layout::LINE_ONE_COLUMNS : layout::LINE_TWO_COLUMNS;
        for (int column = 0; column < 68; ++column) {
            for (int byte = 0; byte < 256; ++byte) {
                std::string one = ORBITER.line_one;
                std::string two = ORBITER.line_two;
                std::string& changed = slot == 1 ? one : two;
                changed[static_cast<std::size_t>(column)] = static_cast<char>(byte);
                changed = with_check_digit(changed);
                const line_window window = make_window(ORBITER.name, one, two);
                const bool by_table = (layout::BYTE_CLASSES.of[byte] & columns.classes[column]) != 0;
                const bool by_layout = code_accepts(layout[static_cast<std::size_t>(column)], byte);
                if (check_set_at(window, 0) != by_table || by_table != by_layout)
                    ADD_FAILURE() << "line " << slot << ", column " << column + 1 << ", byte " << byte;
            }
        }
    }
}

TEST_P(CheckSetAt, TheNamesFirstByteIsText) {
    // Printable ASCII, or the first byte of a letter outside it.  Over
    // lines 1 and 2 at column 0 blanks before the name are its own indent;
    // behind a prefix the name starts at the set's column.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string name = std::string(1, static_cast<char>(byte)) + "NAME";
        const bool text = (byte >= 32 && byte <= 126) || byte >= 128;
        EXPECT_EQ(check_set_at(make_window(name, ORBITER.line_one, ORBITER.line_two), 0),
                  text || byte == '\t')
            << "byte " << byte;
        const std::string one = ORBITER.line_one;
        const std::string two = ORBITER.line_two;
        EXPECT_EQ(check_set_at(make_window("> " + name, "> " + one, "> " + two), 2), text)
            << "byte " << byte << " behind a prefix";
    }
}

TEST_P(CheckSetAt, CheckDigitMatchesEitherSummingRule) {
    // LANTERN's line 1 has one '+': the plain rule gives 5, the plus rule 7.
    // ORBITER's line 1 has none, so both rules give 7.
    struct Case {
        const test::element_set& set;
        std::string accepted;
    } cases[] = {{LANTERN, "57"}, {ORBITER, "7"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set.name);
        for (int byte = 0; byte < 256; ++byte) {
            std::string one = c.set.line_one;
            one[68] = static_cast<char>(byte);
            const line_window window = make_window(c.set.name, one, c.set.line_two);
            const bool expected = c.accepted.find(static_cast<char>(byte)) != std::string::npos;
            EXPECT_EQ(check_set_at(window, 0), expected) << "byte " << byte;
        }
    }
}

TEST_P(FindSet, YieldsTheLeftmostColumnOfAValidSet) {
    std::string plus_second_derivative = GANNET.line_one;
    plus_second_derivative[44] = '+';
    std::string lettered_two = ORBITER.line_two;
    lettered_two.replace(2, 5, "A1907");
    std::string padded_two = ORBITER.line_two;
    padded_two.replace(2, 5, "  907");
    std::string padded_one = ORBITER.line_one;
    padded_one.replace(2, 5, "  907");
    std::string bad_two = ORBITER.line_two;
    bad_two[68] = '0';
    std::string high_byte = ORBITER.line_one;
    high_byte[20] = '\xb0';
    std::string dash_in_44 = GANNET.line_one;
    dash_in_44[43] = '-';
    const std::string one = ORBITER.line_one;
    const std::string two = ORBITER.line_two;
    const std::string long_name(71, 'N');

    struct Case {
        const char* name;
        line_window window;
        int column;
    } cases[] = {
        {"a plain set", window_of(ORBITER), 0},
        {"quoted set", window_of(ORBITER, "> "), 2},
        {"indented by a tab", window_of(ORBITER, "\t"), 1},
        {"lines at different columns", make_window(ORBITER.name, " " + one, two), NO_COLUMN},
        {"text after column 69", make_window(ORBITER.name, one + " extra", two + "  more"), 0},
        {"line 1 one column short", make_window(ORBITER.name, one.substr(0, 68), two), NO_COLUMN},
        {"name line ends before the column", make_window("> AB", "> >>" + one, "> >>" + two), NO_COLUMN},
        {"a short name over indented lines", make_window("AB", "    " + one, "    " + two), 4},
        {"a control byte at the name's column", make_window("\x01NAME", one, two), NO_COLUMN},
        {"a control byte where an indented name starts", make_window("  \x01NAME", one, two), NO_COLUMN},
        {"a control byte after blanks behind a prefix", make_window(">  \x01NAME", "> " + one, "> " + two),
         NO_COLUMN},
        {"a tab before the name", make_window("\tNAME", one, two), 0},
        {"a name line of blanks", make_window(" \t ", "\t" + one, "\t" + two), 1},
        {"two valid columns", make_window(long_name, one + " " + one, two + " " + two), 0},
        {"second column valid only", make_window(long_name, "1" + one, "2" + two), 1},
        {"a set among crowded candidates", make_window(long_name, "1 1 1 1 " + one, "2 2 2 2 " + two), 8},
        {"'-' as sign of the second derivative", window_of(GANNET), 0},
        {"'+' as sign of the second derivative",
         make_window(GANNET.name, with_check_digit(plus_second_derivative), GANNET.line_two), 0},
        {"'-' in column 44", make_window(GANNET.name, with_check_digit(dash_in_44), GANNET.line_two),
         NO_COLUMN},
        {"letter in line 2's catalogue number",
         make_window(ORBITER.name, one, with_check_digit(lettered_two)), 0},
        {"spaces in both catalogue numbers",
         make_window(ORBITER.name, with_check_digit(padded_one), with_check_digit(padded_two)), 0},
        {"catalogue numbers that differ", make_window(ORBITER.name, one, KESTREL.line_two), 0},
        {"wrong check digit on line 2", make_window(ORBITER.name, one, bad_two), NO_COLUMN},
        {"byte above 127", make_window(ORBITER.name, with_check_digit(high_byte), two), NO_COLUMN},
        {"lines in the wrong order", make_window(ORBITER.name, two, one), NO_COLUMN},
        {"a bare pair has no name line", make_window(one, two, "next"), NO_COLUMN},
        {"line 2 ends a byte before the set", cut_short(window_of(ORBITER, "> "), 2), NO_COLUMN},
        {"line 1 ends a byte before the set", cut_short(window_of(ORBITER, "\t \t"), 1), NO_COLUMN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find_set(c.window), c.column);
    }
}

TEST_P(FindBarePair, YieldsTheColumnOfLineOneAndLineTwoInTheFirstTwoSlots) {
    const std::string one = ORBITER.line_one;
    const std::string two = ORBITER.line_two;
    struct Case {
        const char* name;
        line_window window;
        int column;
    } cases[] = {
        {"a pair", make_window(one, two, "anything"), 0},
        {"a quoted pair", make_window("> " + one, "> " + two, "> "), 2},
        {"a pair at different columns", make_window(one, " " + two, "x"), NO_COLUMN},
        {"a named set", window_of(ORBITER), NO_COLUMN},
        {"a pair with a wrong check digit", make_window(one.substr(0, 68) + "0", two, "x"), NO_COLUMN},
        {"line 2 ends a byte before the pair",
         [&] {
             line_window window = make_window("> " + one, "> " + two, "x");
             --window.line_one.length;
             return window;
         }(),
         NO_COLUMN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find_bare_pair(c.window), c.column);
    }
}

TEST_P(SearchWindow, KeepsThePairWhenNoSetIsFound) {
    // The pair found in line_one and line_two is what find_bare_pair finds
    // once the window has slid by one line.
    const std::string one = ORBITER.line_one;
    const std::string two = ORBITER.line_two;
    struct Case {
        const char* name;
        line_window window;
        int set_column;
        int pair_column;
    } cases[] = {
        {"a named set", window_of(ORBITER), 0, 0},
        {"a name line that cannot be one", make_window("\x01note", one, two), NO_COLUMN, 0},
        {"a name line too short for the column", make_window("x", "> " + one, "> " + two), NO_COLUMN, 2},
        {"no pair at all", make_window(one, two, "text"), NO_COLUMN, NO_COLUMN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const window_search found = search_window(c.window);
        EXPECT_EQ(found.set_column, c.set_column);
        EXPECT_EQ(found.set_column, find_set(c.window));
        if (found.set_column == NO_COLUMN) {
            EXPECT_EQ(found.pair_column, c.pair_column);
            const line_window slid{c.window.line_one, c.window.line_two, test::make_line("")};
            EXPECT_EQ(found.pair_column, find_bare_pair(slid));
        }
    }
}

TEST_P(NormaliseSetLine, RewritesPlusSignsAndTheCheckDigitOfAnyLine) {
    const std::string plus_gone = "1 58011U 23155C   26341.12500000 -.00000020  00000 0 -10730-3 0 12345";
    std::string wrong_digit = ORBITER.line_one;
    wrong_digit[68] = '0';
    struct Case {
        const char* name;
        std::string line;
        std::string normalised;
    } cases[] = {
        {"a valid line without plus signs", ORBITER.line_one, ORBITER.line_one},
        {"plus signs become spaces", LANTERN.line_one, plus_gone},
        {"a wrong check digit is rewritten", wrong_digit, ORBITER.line_one},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string copy = c.line;
        normalise_set_line(copy.data());
        EXPECT_EQ(copy, c.normalised);
    }
}

std::string write_to_string(void (*writer)(const line_window&, int, output_blocks&),
                            const line_window& window, int column) {
    char* buffer = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    const auto blocks = std::make_unique<output_blocks>();
    begin_output(*blocks, out);
    writer(window, column, *blocks);
    end_output(*blocks);
    EXPECT_EQ(blocks->error, 0);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST_P(WriteSet, TrimsTheName) {
    const std::string tail = std::string("\n") + ORBITER.line_one + "\n" + ORBITER.line_two + "\n";
    struct Case {
        const char* name;
        std::string name_line;
        std::string written;
    } cases[] = {
        {"a plain name", "ORBITER 7", "ORBITER 7"},
        {"padded to 24 columns", "ISS (ZARYA)             ", "ISS (ZARYA)"},
        {"padded inside a quoted string", "'ISS (ZARYA)             ',", "'ISS (ZARYA)"},
        {"a pair of spaces inside the name", "GPS BIIR-2  (PRN 13)", "GPS BIIR-2  (PRN 13)"},
        {"a pair of spaces inside, then padding", "GPS BIIR-2  (PRN 13)    ", "GPS BIIR-2  (PRN 13)"},
        {"cut where three spaces meet", "ORBITER   7", "ORBITER"},
        {"two final spaces dropped", "ORBITER 7  ", "ORBITER 7"},
        {"one trailing space stays", "ORBITER 7 ", "ORBITER 7 "},
        {"cut at a tab", "ORBITER\t7", "ORBITER"},
        {"two spaces before a tab dropped", "ORBITER  \t7", "ORBITER"},
        {"cut before a NUL", std::string("ORB\0ITER", 8), "ORB"},
        {"a name in UTF-8", "\xC3\x89TOILE 1", "\xC3\x89TOILE 1"},
        {"a name in Latin-1", "\xD8rsted", "\xD8rsted"},
        {"a Cyrillic name", "\xD0\x9C\xD0\x98\xD0\xA0 2", "\xD0\x9C\xD0\x98\xD0\xA0 2"},
        {"at most 69 bytes", std::string(80, 'N'), std::string(69, 'N')},
        {"two spaces straddling the cut", std::string(68, 'N') + "  X", std::string(68, 'N') + " "},
        {"three spaces straddling the cut", std::string(67, 'N') + "   X", std::string(67, 'N')},
        // What is left of a broken pair names nothing.
        {"a line 1 as the name", KESTREL.line_one, ""},
        {"a line 2 as the name", KESTREL.line_two, ""},
        {"the first seven columns of a line 2", "2 39084", ""},
        {"a line 1 with a lettered catalogue number", "1 A1234U 23155C", ""},
        {"six columns of a line 1", "1 3908", "1 3908"},
        {"a name that starts with a number", "1 ORBITER", "1 ORBITER"},
        {"a number that is no catalogue number", "2 3908A", "2 3908A"},
    };
    // At the start of the lines, and behind a prefix where a set ends the
    // line's storage, so that the name's copy meets the end of its line.
    for (const int column : {0, 900, LINE_CAPACITY - SET_LINE_WIDTH}) {
        const std::string pad(static_cast<std::size_t>(column), '>');
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " at column " + std::to_string(column));
            const line_window window = make_window((pad + c.name_line).substr(0, LINE_CAPACITY),
                                                   pad + ORBITER.line_one, pad + ORBITER.line_two);
            EXPECT_EQ(write_to_string(write_set, window, column), c.written + tail);
        }
    }
}

TEST_P(WriteSet, StartsTheNameWhereItsLineDoes) {
    // Where lines 1 and 2 hold blanks alone before the set, the name line
    // was indented on its own; text before them stands before the name too.
    const std::string tail = std::string("\n") + ORBITER.line_one + "\n" + ORBITER.line_two + "\n";
    struct Case {
        const char* name;
        std::string name_line;
        std::string prefix;
        std::string written;
    } cases[] = {
        {"flush left over lines indented by six", "NOAA 15", "      ", "NOAA 15"},
        {"flush left over tab-indented lines", "METEOR-M 2", "\t", "METEOR-M 2"},
        {"flush left over lines indented by three", "ISS (ZARYA)", "   ", "ISS (ZARYA)"},
        {"shorter than the indent", "ISS", "        ", "ISS"},
        {"indented over lines at column 0", "  ISS", "", "ISS"},
        {"indented by a tab over lines at column 0", "\tISS", "", "ISS"},
        {"indented deeper than the lines", "      ISS", "  ", "ISS"},
        {"indented by blanks of both kinds", " \t ISS  (1)", " \t", "ISS  (1)"},
        {"a line of blanks", " \t  ", "    ", ""},
        {"an indented line 2 as the name", std::string("   ") + KESTREL.line_two, "", ""},
        {"behind a quote mark", "> ISS (ZARYA)", "> ", "ISS (ZARYA)"},
        {"behind a quote mark and a space more", ">  ISS", "> ", "ISS"},
        {"behind a quote mark and blanks alone", ">  \t ", "> ", ""},
        {"behind a log prefix", "12:00:01 ISS", "12:00:01 ", "ISS"},
        {"behind a prefix ending in a tab", "x\tISS", "x\t", "ISS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const line_window window =
            make_window(c.name_line, c.prefix + ORBITER.line_one, c.prefix + ORBITER.line_two);
        const int column = static_cast<int>(c.prefix.size());
        EXPECT_EQ(find_set(window), column);
        EXPECT_EQ(write_to_string(write_set, window, column), c.written + tail);
    }
}

TEST_P(WriteSet, CutsTheNameWhereverTheCutFalls) {
    // Every place of a cut, at two columns, so that cuts and runs of spaces
    // fall on every side of each step the name is copied in.
    const std::string tail = std::string("\n") + ORBITER.line_one + "\n" + ORBITER.line_two + "\n";
    struct Mark {
        const char* name;
        std::string bytes;
    } marks[] = {{"tab", "\t"}, {"NUL", std::string(1, '\0')}, {"three spaces", "   "}, {"two spaces", "  "}};
    for (const std::string prefix : {"> ", "> >"}) {
        for (const Mark& mark : marks) {
            for (std::size_t at = 0; at < 75; ++at) {
                SCOPED_TRACE(std::string(mark.name) + " at " + std::to_string(at) + " after '" + prefix +
                             "'");
                const std::string name = std::string(at, 'N') + mark.bytes + std::string(10, 'M');
                // Only 69 bytes count: spaces past them cut nothing, and two
                // spaces inside a name stay.
                std::string expected = name.substr(0, std::min<std::size_t>(at, 69));
                if (mark.bytes == "   " && at == 68) expected += " ";
                if (mark.bytes == "  " && at < 67) expected = name.substr(0, 69);
                if (mark.bytes == "  " && at == 68) expected += " ";
                // Spaces at the column are checked, then passed over.
                if (mark.bytes[0] == ' ' && at == 0) expected = std::string(10, 'M');
                const line_window window =
                    make_window(prefix + name, prefix + ORBITER.line_one, prefix + ORBITER.line_two);
                EXPECT_EQ(write_to_string(write_set, window, static_cast<int>(prefix.size())),
                          expected + tail);
            }
        }
    }
}

TEST_P(WriteSet, DropsThePrefixAndTheTailAndNormalisesTheLines) {
    std::string plus_only = LANTERN.line_one;
    plus_only[68] = '7';
    const std::string plus_gone = "1 58011U 23155C   26341.12500000 -.00000020  00000 0 -10730-3 0 12345";
    struct Case {
        const char* name;
        line_window window;
        int column;
        std::string written;
    } cases[] = {
        {"a set without plus signs is written as read", window_of(KESTREL), 0, test::written(KESTREL)},
        {"prefix and tail dropped",
         make_window("> KESTREL-2 DEB    x", std::string("> ") + KESTREL.line_one + " tail",
                     std::string("> ") + KESTREL.line_two + "\xff"),
         2, test::written(KESTREL)},
        {"plus signs become spaces", window_of(LANTERN), 0,
         std::string("LANTERN 12\n") + plus_gone + "\n" + LANTERN.line_two + "\n"},
        {"check digit rewritten by the plain rule", make_window("LANTERN 12", plus_only, LANTERN.line_two), 0,
         std::string("LANTERN 12\n") + plus_gone + "\n" + LANTERN.line_two + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(write_to_string(write_set, c.window, c.column), c.written);
    }
}

TEST_P(WriteBarePair, WritesAnEmptyNameAndTheTwoLines) {
    const line_window window = make_window(std::string("  ") + ORBITER.line_one + "  #",
                                           std::string("  ") + ORBITER.line_two, "next");
    EXPECT_EQ(write_to_string(write_bare_pair, window, 2), test::written_bare(ORBITER));
}

TEST(LinePasses, AnUnknownClassCodeIsAFatalError) {
    const input_line line = test::make_line("1?");
    EXPECT_EXIT(line_passes(line, 0, "1?E"), testing::ExitedWithCode(1), "^Fatal error: bad case.\n$");
}

} // namespace
