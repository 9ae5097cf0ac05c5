// SPDX-License-Identifier: ISC
// The layout of an element set as data: the classes a byte can belong to,
// the class codes of the templates, the three templates, and the templates
// read once, at compile time, into the forms the search checks lines with.
// Everything here is a constant; the element-set unit and every engine
// take their tables from it, so that there is one layout in the program.

#ifndef KEPSIFT_LAYOUT_H
#define KEPSIFT_LAYOUT_H

#include <cstdint>

#include "kepsift.h"

namespace layout {

// The classes a byte can belong to, one bit each, so that a column test is
// one table look-up and one AND.
enum : std::uint8_t {
    TEXT = 1U << 0,
    DIGIT = 1U << 1,
    LETTER_OR_SPACE = 1U << 2,
    FIELD_CHARACTER = 1U << 3,
    SPACE = 1U << 4,
    POINT = 1U << 5,
    ONE = 1U << 6,
    TWO = 1U << 7,
};

inline constexpr char END_OF_TEMPLATE = 'E';
inline constexpr char CHECK_DIGIT_CODE = 'C';

constexpr bool in_range(int byte, char low, char high) { return byte >= low && byte <= high; }

// Classes as the POSIX locale has them over 7-bit codes, whatever the
// environment's locale says.  Bytes 128 to 255 belong to one class only,
// text: a name may begin with a letter outside ASCII, in UTF-8 or Latin-1,
// whose first byte is one of them.  Text is otherwise the printable bytes.
constexpr std::uint8_t classes_of_byte(int byte) {
    const bool digit = in_range(byte, '0', '9');
    const bool letter = in_range(byte, 'A', 'Z') || in_range(byte, 'a', 'z');
    std::uint8_t classes = 0;
    if (in_range(byte, ' ', '~') || byte >= 128) classes |= TEXT;
    if (digit) classes |= DIGIT;
    if (letter || byte == ' ') classes |= LETTER_OR_SPACE;
    if (letter || digit || byte == ' ' || byte == '+' || byte == '-' || byte == '.')
        classes |= FIELD_CHARACTER;
    if (byte == ' ') classes |= SPACE;
    if (byte == '.') classes |= POINT;
    if (byte == '1') classes |= ONE;
    if (byte == '2') classes |= TWO;
    return classes;
}

// Plain arrays inside records, here and below: the engines read these
// tables at run time, and a member function of a library template would be
// compiled into each of them.
struct class_table {
    std::uint8_t of[256];
};

constexpr class_table make_class_table() {
    class_table table{};
    for (int byte = 0; byte < 256; ++byte) table.of[byte] = classes_of_byte(byte);
    return table;
}

inline constexpr class_table BYTE_CLASSES = make_class_table();

// The reader of class codes: the classes a column with this code accepts,
// or 0 for a code that is not one.  'C', the last column of a line, is a
// digit that must also be the line's check digit.
constexpr std::uint8_t classes_of_code(char code) {
    switch (code) {
    case ' ': return SPACE;
    case '.': return POINT;
    case '1': return ONE;
    case '2': return TWO;
    case '*': return TEXT;
    case 'd': return DIGIT;
    case 'l': return LETTER_OR_SPACE;
    case 'x': return FIELD_CHARACTER;
    case CHECK_DIGIT_CODE: return DIGIT;
    default: return 0;
    }
}

// One code per column from column 1, then the end mark.  In line 1, columns
// 34, 45 and 54 hold the signs of the two derivatives of mean motion and of
// the drag term, and real catalogs carry '-' or '+' in each; columns 3 to 7
// of both lines hold the catalogue number, which may carry a letter (numbers
// past 99999) or leading spaces.
// clang-format off
inline constexpr const char* set_templates[3] = {
    //            1        10        20        30        40        50        60       69
    //            |        |         |         |         |         |         |        |
    /* name   */ "*E",
    /* line 1 */ "1 xxxxdl xxxxxxxx ddxxd.dddddddd x.dxxxxxxx xxxxxxxx xxxxxxxxxxxxxxxCE",
    /* line 2 */ "2 xxxxd xxd.dxxx xxd.dxxx dxxxxxx xxd.dxxx xxd.dxxx xd.dxxxxxxxxxxxxCE",
};
// clang-format on
inline constexpr const char* NAME_TEMPLATE = set_templates[0];
inline constexpr const char* LINE_ONE_TEMPLATE = set_templates[1];
inline constexpr const char* LINE_TWO_TEMPLATE = set_templates[2];

// Every code known, a check digit only as the last column, and the width.
constexpr bool template_is_sound(const char* line_template, int width) {
    int column = 0;
    for (; line_template[column] != END_OF_TEMPLATE; ++column) {
        if (classes_of_code(line_template[column]) == 0) return false;
        if (line_template[column] == CHECK_DIGIT_CODE && line_template[column + 1] != END_OF_TEMPLATE)
            return false;
    }
    return column == width;
}

static_assert(template_is_sound(NAME_TEMPLATE, 1));
static_assert(template_is_sound(LINE_ONE_TEMPLATE, SET_LINE_WIDTH));
static_assert(template_is_sound(LINE_TWO_TEMPLATE, SET_LINE_WIDTH));
static_assert(LINE_ONE_TEMPLATE[0] == '1' && LINE_TWO_TEMPLATE[0] == '2',
              "the quick test relies on the line numbers in column 1");
static_assert(LINE_ONE_TEMPLATE[1] == ' ' && LINE_TWO_TEMPLATE[1] == ' ',
              "the quick test relies on a space in column 2");
static_assert(LINE_ONE_TEMPLATE[SET_LINE_WIDTH - 1] == CHECK_DIGIT_CODE &&
                  LINE_TWO_TEMPLATE[SET_LINE_WIDTH - 1] == CHECK_DIGIT_CODE,
              "the check digit is column 69, after every column it sums");

// A template read once by classes_of_code: the classes each column accepts,
// and how many columns there are.
struct compiled_template {
    std::uint8_t classes[LINE_CAPACITY];
    int width;
    bool ends_with_check_digit;
};

constexpr compiled_template compile_template(const char* line_template) {
    compiled_template compiled{};
    int column = 0;
    for (; line_template[column] != END_OF_TEMPLATE && column < LINE_CAPACITY; ++column)
        compiled.classes[column] = classes_of_code(line_template[column]);
    compiled.width = column;
    compiled.ends_with_check_digit = column > 0 && line_template[column - 1] == CHECK_DIGIT_CODE;
    return compiled;
}

inline constexpr compiled_template NAME_COLUMNS = compile_template(NAME_TEMPLATE);
inline constexpr compiled_template LINE_ONE_COLUMNS = compile_template(LINE_ONE_TEMPLATE);
inline constexpr compiled_template LINE_TWO_COLUMNS = compile_template(LINE_TWO_TEMPLATE);

// Columns 1 to 68 carry the sums; column 69 is the check digit.
inline constexpr int SUMMED_COLUMNS = SET_LINE_WIDTH - 1;

// The columns of a line template that want one exact character, after the
// first two, which the quick test always looks at.
struct exact_column {
    int column;
    std::uint8_t byte;
};

inline constexpr int MOST_EXACT_COLUMNS = SET_LINE_WIDTH;

struct exact_columns {
    exact_column of[MOST_EXACT_COLUMNS];
    int count;
};

constexpr bool is_exact(std::uint8_t classes) {
    return classes == SPACE || classes == POINT || classes == ONE || classes == TWO;
}

constexpr std::uint8_t exact_byte(std::uint8_t classes) {
    return classes == SPACE ? ' ' : classes == POINT ? '.' : classes == ONE ? '1' : '2';
}

constexpr exact_columns exact_columns_of(const compiled_template& compiled) {
    exact_columns exact{};
    for (int column = 2; column < compiled.width; ++column)
        if (is_exact(compiled.classes[column]))
            exact.of[exact.count++] = {column, exact_byte(compiled.classes[column])};
    return exact;
}

inline constexpr exact_columns LINE_ONE_EXACT = exact_columns_of(LINE_ONE_COLUMNS);
inline constexpr exact_columns LINE_TWO_EXACT = exact_columns_of(LINE_TWO_COLUMNS);

// The two forms in which an engine tests the classes of a line's columns,
// a whole vector of columns at once.  Both come from the compiled
// templates above, and each accepts exactly what the class table does.
//
// The range form, for processors without a table look-up: a column is
// accepted if its byte lies in the column's range of bytes, or belongs to
// one of the two classes that are no range (letter or space; field
// character) and the column takes that class.  A column of those two
// classes gets a range that lies inside its class, so that the range adds
// nothing to what the class accepts.
struct byte_range {
    std::uint8_t low;
    std::uint8_t span;
};

constexpr byte_range range_of(std::uint8_t classes) {
    switch (classes) {
    case SPACE: return {' ', 0};
    case POINT: return {'.', 0};
    case ONE: return {'1', 0};
    case TWO: return {'2', 0};
    case DIGIT: return {'0', 9};
    case TEXT: return {' ', 255 - ' '};
    case LETTER_OR_SPACE: return {' ', 0};
    case FIELD_CHARACTER: return {'0', 9};
    default: return {0, 0};
    }
}

constexpr bool range_form_covers(std::uint8_t classes) {
    return classes == SPACE || classes == POINT || classes == ONE || classes == TWO || classes == DIGIT ||
           classes == TEXT || classes == LETTER_OR_SPACE || classes == FIELD_CHARACTER;
}

// What the range form accepts in a column of these classes, as the engines
// compute it: the letters are the bytes that fall in 'a' to 'z' once bit
// 0x20 is set.
constexpr bool range_form_accepts(std::uint8_t classes, int byte) {
    const byte_range range = range_of(classes);
    const bool ranged = static_cast<std::uint8_t>(byte - range.low) <= range.span;
    const bool letter = static_cast<std::uint8_t>((byte | 0x20) - 'a') <= 'z' - 'a';
    const bool letter_or_space = letter || byte == ' ';
    const bool field =
        letter_or_space || in_range(byte, '0', '9') || byte == '+' || byte == '-' || byte == '.';
    return ranged || (classes == LETTER_OR_SPACE && letter_or_space) || (classes == FIELD_CHARACTER && field);
}

// The look-up form, for processors with a 16-entry table look-up: a byte's
// classes come from two look-ups, one by each of its halves, and each class
// is a rectangle of high and low halves, so that a byte is in it if both
// halves' entries carry its bit.  Bytes 128 to 255 have high halves 8 to 15,
// whose entries carry none.
enum : std::uint8_t {
    HALF_SPACE = 1U << 0,       // 0x20
    HALF_POINT = 1U << 1,       // 0x2E
    HALF_SIGN = 1U << 2,        // 0x2B and 0x2D
    HALF_DIGIT = 1U << 3,       // 0x30 to 0x39
    HALF_ONE = 1U << 4,         // 0x31
    HALF_TWO = 1U << 5,         // 0x32
    HALF_LETTER_LOW = 1U << 6,  // 0x41 to 0x4F and 0x61 to 0x6F
    HALF_LETTER_HIGH = 1U << 7, // 0x50 to 0x5A and 0x70 to 0x7A
};

struct half_rectangle {
    std::uint8_t bit;
    std::uint16_t highs;
    std::uint16_t lows;
};

constexpr std::uint16_t halves(int first, int last) {
    std::uint16_t set = 0;
    for (int half = first; half <= last; ++half) set = static_cast<std::uint16_t>(set | 1U << half);
    return set;
}

inline constexpr half_rectangle HALF_CLASSES[] = {
    {HALF_SPACE, halves(2, 2), halves(0, 0)},
    {HALF_POINT, halves(2, 2), halves(14, 14)},
    {HALF_SIGN, halves(2, 2), static_cast<std::uint16_t>(halves(11, 11) | halves(13, 13))},
    {HALF_DIGIT, halves(3, 3), halves(0, 9)},
    {HALF_ONE, halves(3, 3), halves(1, 1)},
    {HALF_TWO, halves(3, 3), halves(2, 2)},
    {HALF_LETTER_LOW, static_cast<std::uint16_t>(halves(4, 4) | halves(6, 6)), halves(1, 15)},
    {HALF_LETTER_HIGH, static_cast<std::uint16_t>(halves(5, 5) | halves(7, 7)), halves(0, 10)},
};

struct half_table {
    std::uint8_t of[16];
};

// The look-up table by high halves (high) or by low halves.
constexpr half_table make_half_table(bool high) {
    half_table table{};
    for (int half = 0; half < 16; ++half)
        for (const half_rectangle& rectangle : HALF_CLASSES)
            if (((high ? rectangle.highs : rectangle.lows) >> half & 1U) != 0)
                table.of[half] |= rectangle.bit;
    return table;
}

inline constexpr half_table HIGH_HALF_TABLE = make_half_table(true);
inline constexpr half_table LOW_HALF_TABLE = make_half_table(false);

constexpr std::uint8_t half_classes_of_byte(int byte) {
    return HIGH_HALF_TABLE.of[byte >> 4] & LOW_HALF_TABLE.of[byte & 15];
}

// The half classes a column of these classes accepts; 0 where none fits.
constexpr std::uint8_t half_classes_of(std::uint8_t classes) {
    switch (classes) {
    case SPACE: return HALF_SPACE;
    case POINT: return HALF_POINT;
    case ONE: return HALF_ONE;
    case TWO: return HALF_TWO;
    case DIGIT: return HALF_DIGIT;
    case LETTER_OR_SPACE: return HALF_LETTER_LOW | HALF_LETTER_HIGH | HALF_SPACE;
    case FIELD_CHARACTER:
        return HALF_LETTER_LOW | HALF_LETTER_HIGH | HALF_SPACE | HALF_DIGIT | HALF_SIGN | HALF_POINT;
    default: return 0;
    }
}

// Both forms accept exactly the bytes the class table does, for every code
// of the line templates and every byte, and every column of both line
// templates has a code they cover.
constexpr bool forms_agree_with_table() {
    for (const char code : {' ', '.', '1', '2', 'd', 'l', 'x', CHECK_DIGIT_CODE}) {
        const std::uint8_t classes = classes_of_code(code);
        for (int byte = 0; byte < 256; ++byte) {
            const bool by_table = (BYTE_CLASSES.of[byte] & classes) != 0;
            if (range_form_accepts(classes, byte) != by_table) return false;
            if (((half_classes_of_byte(byte) & half_classes_of(classes)) != 0) != by_table) return false;
        }
    }
    for (const compiled_template* compiled : {&LINE_ONE_COLUMNS, &LINE_TWO_COLUMNS})
        for (int column = 0; column < compiled->width; ++column)
            if (!range_form_covers(compiled->classes[column]) ||
                half_classes_of(compiled->classes[column]) == 0)
                return false;
    return true;
}

static_assert(forms_agree_with_table());

} // namespace layout

#endif
