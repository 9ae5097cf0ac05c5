// SPDX-License-Identifier: ISC
// The two-line layout as a user writes it down, kept apart from the
// program's own tables so that tests and the fuzzer check the program
// against it rather than against itself.

#ifndef KEPSIFT_TEST_REFERENCE_H
#define KEPSIFT_TEST_REFERENCE_H

#include <string_view>

namespace reference {

// One class code per column of line 1 and line 2; column 69 ('C') is the
// check digit.
inline constexpr std::string_view LINE_ONE_LAYOUT =
    "1 xxxxdl xxxxxxxx ddxxd.dddddddd x.dxxxxxxx xxxxxxxx xxxxxxxxxxxxxxxC";
inline constexpr std::string_view LINE_TWO_LAYOUT =
    "2 xxxxd xxd.dxxx xxd.dxxx dxxxxxx xxd.dxxx xxd.dxxx xd.dxxxxxxxxxxxxC";

inline bool is_digit(int byte) { return byte >= '0' && byte <= '9'; }
inline bool is_letter(int byte) { return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'); }

// What each class code accepts; any other code stands for itself.
inline bool code_accepts(char code, int byte) {
    switch (code) {
    case '*': return byte >= 32 && byte <= 126;
    case 'd':
    case 'C': return is_digit(byte);
    case 'l': return is_letter(byte) || byte == ' ';
    case 'x':
        return is_letter(byte) || is_digit(byte) || byte == ' ' || byte == '+' || byte == '-' || byte == '.';
    default: return byte == static_cast<unsigned char>(code);
    }
}

// Digits add their value and '-' adds 1, over columns 1 to 68.
inline int plain_sum(std::string_view line) {
    int sum = 0;
    for (std::size_t k = 0; k < 68; ++k) sum += is_digit(line[k]) ? line[k] - '0' : line[k] == '-' ? 1 : 0;
    return sum;
}

inline char plain_check_digit(std::string_view line) { return static_cast<char>('0' + plain_sum(line) % 10); }

// True if line is 69 bytes that fit layout, with the plain check digit.
inline bool fits_layout(std::string_view line, std::string_view layout) {
    if (line.size() != layout.size()) return false;
    for (std::size_t k = 0; k < layout.size(); ++k)
        if (!code_accepts(layout[k], static_cast<unsigned char>(line[k]))) return false;
    return line.back() == plain_check_digit(line);
}

} // namespace reference

#endif
