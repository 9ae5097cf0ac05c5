// SPDX-License-Identifier: ISC
// A second kepsift, written apart from the program and as plainly as the
// rules can be put: a reader that takes one byte at a time, templates read
// column by column as strings of class codes, and a loop that tries every
// column.  No fast path and no code of the program is used, only its
// records, so that the fuzzer can hold the two against each other: any
// difference in output or count is a fault in one of them.

#ifndef KEPSIFT_REFERENCE_FILTER_H
#define KEPSIFT_REFERENCE_FILTER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kepsift.h"

namespace reference_filter {

constexpr int CAPACITY = 1024;
constexpr int WIDTH = 69;
constexpr int END_OF_INPUT = -1;

// The three templates, one class code per column, each ended by 'E'.  Column
// 45 of line 1 and columns 3 to 7 of line 2 carry the codes real catalogs
// need (a signed second derivative; catalogue numbers with letters or
// leading spaces).
constexpr const char* NAME_TEMPLATE = "*E";
constexpr const char* LINE_ONE_TEMPLATE =
    "1 xxxxdl xxxxxxxx ddxxd.dddddddd x.dxxxxxxx xxxxxxxx xxxxxxxxxxxxxxxCE";
constexpr const char* LINE_TWO_TEMPLATE =
    "2 xxxxd xxd.dxxx xxd.dxxx dxxxxxx xxd.dxxx xxd.dxxx xd.dxxxxxxxxxxxxCE";

struct byte_source {
    const std::uint8_t* bytes;
    std::size_t size;
    std::size_t position = 0;

    int take() { return position < size ? bytes[position++] : END_OF_INPUT; }
};

inline bool is_line_end(int byte) { return byte == '\n' || byte == '\r'; }

// Skips line ends, then takes a line to its end; bytes past the capacity
// are dropped up to the line end.
inline int next_line(input_line& line, byte_source& source) {
    int byte = source.take();
    while (is_line_end(byte)) byte = source.take();
    int length = 0;
    while (byte != END_OF_INPUT && !is_line_end(byte)) {
        if (length < CAPACITY) line.chars[length++] = static_cast<char>(byte);
        byte = source.take();
    }
    line.length = length;
    return length;
}

inline bool is_digit(int byte) { return byte >= '0' && byte <= '9'; }
inline bool is_letter(int byte) { return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'); }

// The check digit under either rule, over the 68 columns before it.
inline bool check_digit_fits(const input_line& line, int column, int digit) {
    int plain = 0;
    int plus_signs = 0;
    for (int k = 0; k < WIDTH - 1; ++k) {
        const int byte = static_cast<unsigned char>(line.chars[column + k]);
        if (is_digit(byte)) plain += byte - '0';
        if (byte == '-') plain += 1;
        if (byte == '+') plus_signs += 1;
    }
    const int value = digit - '0';
    return value == plain % 10 || value == (plain + 2 * plus_signs) % 10;
}

inline bool code_accepts(char code, const input_line& line, int column, int byte) {
    switch (code) {
    case ' ':
    case '.':
    case '1':
    case '2': return byte == code;
    case '*': return (byte >= 32 && byte <= 126) || byte >= 128;
    case 'd': return is_digit(byte);
    case 'l': return is_letter(byte) || byte == ' ';
    case 'x':
        return is_letter(byte) || is_digit(byte) || byte == ' ' || byte == '+' || byte == '-' || byte == '.';
    case 'C': return is_digit(byte) && check_digit_fits(line, column, byte);
    default: std::abort();
    }
}

inline bool passes_template(const input_line& line, int column, const char* line_template) {
    for (int k = 0; line_template[k] != 'E'; ++k)
        if (!code_accepts(line_template[k], line, column, static_cast<unsigned char>(line.chars[column + k])))
            return false;
    return true;
}

inline bool is_blank(int byte) { return byte == ' ' || byte == '\t'; }

inline bool only_blanks_before(const input_line& line, int column) {
    for (int k = 0; k < column; ++k)
        if (!is_blank(line.chars[k])) return false;
    return true;
}

// A byte-order mark where a name starts is passed over like a blank.
inline int first_not_blank(const input_line& line, int from) {
    const std::string_view mark = "\xEF\xBB\xBF";
    for (;;) {
        if (from < line.length && is_blank(line.chars[from]))
            ++from;
        else if (std::string_view(line.chars + from, static_cast<std::size_t>(line.length - from))
                     .starts_with(mark))
            from += 3;
        else
            return from;
    }
}

// Where the name of a set at column starts, or -1 if the name line cannot
// name it.  Over lines 1 and 2 indented by blanks only, the name line keeps
// its own indent: the name is its first byte that is not a blank, checked
// there, and a line of blanks is an empty name.  Otherwise the name line is
// checked at the column, and the name starts at its first byte that is not
// a blank from there, which is checked too.
inline int name_start(const line_window& window, int column) {
    const input_line& name = window.name_line;
    if (only_blanks_before(window.line_one, column) && only_blanks_before(window.line_two, column)) {
        const int start = first_not_blank(name, 0);
        if (start == name.length) return start;
        return passes_template(name, start, NAME_TEMPLATE) ? start : -1;
    }
    if (column >= name.length || !passes_template(name, column, NAME_TEMPLATE)) return -1;
    const int start = first_not_blank(name, column);
    return start == name.length || passes_template(name, start, NAME_TEMPLATE) ? start : -1;
}

inline int leftmost_set(const line_window& window) {
    const int last = std::min(window.line_one.length, window.line_two.length) - WIDTH;
    for (int column = 0; column <= last; ++column)
        if (window.line_one.chars[column] == '1' && window.line_two.chars[column] == '2' &&
            name_start(window, column) >= 0 && passes_template(window.line_one, column, LINE_ONE_TEMPLATE) &&
            passes_template(window.line_two, column, LINE_TWO_TEMPLATE))
            return column;
    return -1;
}

inline int leftmost_pair(const line_window& window) {
    const int last = std::min(window.name_line.length, window.line_one.length) - WIDTH;
    for (int column = 0; column <= last; ++column)
        if (window.name_line.chars[column] == '1' && window.line_one.chars[column] == '2' &&
            passes_template(window.name_line, column, LINE_ONE_TEMPLATE) &&
            passes_template(window.line_one, column, LINE_TWO_TEMPLATE))
            return column;
    return -1;
}

// True if the first seven columns at column pass those of template: a
// line number, a space and a catalogue number.
inline bool starts_like(const input_line& line, int column, const char* line_template) {
    if (line.length - column < 7) return false;
    for (int k = 0; k < 7; ++k)
        if (!code_accepts(line_template[k], line, column, static_cast<unsigned char>(line.chars[column + k])))
            return false;
    return true;
}

// A name line that starts like line 1 or line 2 is what is left of a broken
// pair: the set is written with an empty name.
// The name is cut at a NUL or a tab, then where three spaces meet, and
// loses two or more spaces at its end: padding, not a pair of spaces inside
// a name.
inline void write_name(std::string& output, const input_line& name_line, int start) {
    if (starts_like(name_line, start, LINE_ONE_TEMPLATE) ||
        starts_like(name_line, start, LINE_TWO_TEMPLATE)) {
        output += "\n";
        return;
    }
    std::string name(name_line.chars + start,
                     static_cast<std::size_t>(std::min(WIDTH, name_line.length - start)));
    name = name.substr(0, name.find('\0'));
    name = name.substr(0, name.find('\t'));
    name = name.substr(0, name.find("   "));
    const std::size_t kept = name.find_last_not_of(' ') + 1;
    if (name.size() - kept >= 2) name.resize(kept);
    output += name + "\n";
}

inline void write_set_line(std::string& output, const input_line& line, int column) {
    std::string copy(line.chars + column, WIDTH);
    int plain = 0;
    for (int k = 0; k < WIDTH - 1; ++k) {
        if (copy[static_cast<std::size_t>(k)] == '+') copy[static_cast<std::size_t>(k)] = ' ';
        if (is_digit(copy[static_cast<std::size_t>(k)])) plain += copy[static_cast<std::size_t>(k)] - '0';
        if (copy[static_cast<std::size_t>(k)] == '-') plain += 1;
    }
    copy[WIDTH - 1] = static_cast<char>('0' + plain % 10);
    output += copy + "\n";
}

struct result {
    std::string output;
    std::int64_t sets_found = 0;
};

// The whole loop: a window of three lines that slides one line at a time,
// a named set tried first, then a bare pair in its first two lines.  A
// UTF-8 byte-order mark that starts the input is no text.
inline result sift(const std::uint8_t* bytes, std::size_t size) {
    static line_window window;
    input_line* const slots[3] = {&window.name_line, &window.line_one, &window.line_two};
    byte_source source{bytes, size};
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) source.position = 3;
    result found;
    const auto fill_from = [&](int slot) {
        while (slot < 3 && next_line(*slots[slot], source) > 0) ++slot;
        return slot;
    };
    const auto take_bare_pair = [&] {
        const int column = leftmost_pair(window);
        if (column < 0) return false;
        found.output += "\n";
        write_set_line(found.output, window.name_line, column);
        write_set_line(found.output, window.line_one, column);
        ++found.sets_found;
        return true;
    };
    int held = fill_from(0);
    while (held == 3) {
        const int column = leftmost_set(window);
        if (column >= 0) {
            write_name(found.output, window.name_line, name_start(window, column));
            write_set_line(found.output, window.line_one, column);
            write_set_line(found.output, window.line_two, column);
            ++found.sets_found;
            held = fill_from(0);
        } else if (take_bare_pair()) {
            window.name_line = window.line_two;
            held = fill_from(1);
        } else {
            window.name_line = window.line_one;
            window.line_one = window.line_two;
            held = fill_from(2);
        }
    }
    if (held == 2) take_bare_pair();
    return found;
}

} // namespace reference_filter

#endif
