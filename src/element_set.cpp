// SPDX-License-Identifier: ISC
// Element sets: the templates of the three lines, the classes of their
// columns, the two check-digit rules, the search and the writer.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kepsift.h"
#include "stream_buffer.h"

#ifdef KEPSIFT_SSE2
#include <emmintrin.h>
#endif
#ifdef KEPSIFT_AVX2
#include <immintrin.h>
#endif

namespace {

// The classes a byte can belong to, one bit each, so that a column test is
// one table look-up and one AND.
enum : std::uint8_t {
    PRINTABLE = 1U << 0,
    DIGIT = 1U << 1,
    LETTER_OR_SPACE = 1U << 2,
    FIELD_CHARACTER = 1U << 3,
    SPACE = 1U << 4,
    POINT = 1U << 5,
    ONE = 1U << 6,
    TWO = 1U << 7,
};

constexpr char END_OF_TEMPLATE = 'E';
constexpr char CHECK_DIGIT_CODE = 'C';

constexpr bool in_range(int byte, char low, char high) { return byte >= low && byte <= high; }

// Classes as the POSIX locale has them over 7-bit codes; bytes 128 to 255
// belong to none, whatever the environment's locale says.
constexpr std::uint8_t classes_of_byte(int byte) {
    const bool digit = in_range(byte, '0', '9');
    const bool letter = in_range(byte, 'A', 'Z') || in_range(byte, 'a', 'z');
    std::uint8_t classes = 0;
    if (in_range(byte, ' ', '~')) classes |= PRINTABLE;
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

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
    std::array<std::uint8_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) table[static_cast<std::size_t>(byte)] = classes_of_byte(byte);
    return table;
}

constexpr std::array<std::uint8_t, 256> BYTE_CLASSES = make_byte_classes();

// The reader of class codes: the classes a column with this code accepts,
// or 0 for a code that is not one.  'C', the last column of a line, is a
// digit that must also be the line's check digit.
constexpr std::uint8_t classes_of_code(char code) {
    switch (code) {
    case ' ': return SPACE;
    case '.': return POINT;
    case '1': return ONE;
    case '2': return TWO;
    case '*': return PRINTABLE;
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
constexpr std::array<const char*, 3> set_templates = {
    //            1        10        20        30        40        50        60       69
    //            |        |         |         |         |         |         |        |
    /* name   */ "*E",
    /* line 1 */ "1 xxxxdl xxxxxxxx ddxxd.dddddddd x.dxxxxxxx xxxxxxxx xxxxxxxxxxxxxxxCE",
    /* line 2 */ "2 xxxxd xxd.dxxx xxd.dxxx dxxxxxx xxd.dxxx xxd.dxxx xd.dxxxxxxxxxxxxCE",
};
// clang-format on
constexpr const char* NAME_TEMPLATE = set_templates[0];
constexpr const char* LINE_ONE_TEMPLATE = set_templates[1];
constexpr const char* LINE_TWO_TEMPLATE = set_templates[2];

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
              "find_set's quick test relies on the line numbers in column 1");
static_assert(LINE_ONE_TEMPLATE[SET_LINE_WIDTH - 1] == CHECK_DIGIT_CODE &&
                  LINE_TWO_TEMPLATE[SET_LINE_WIDTH - 1] == CHECK_DIGIT_CODE,
              "the check digit is column 69, after every column it sums");

// A template read once by classes_of_code: the classes each column accepts,
// and how many columns there are.
struct compiled_template {
    std::array<std::uint8_t, LINE_CAPACITY> classes;
    int width;
    bool ends_with_check_digit;
};

constexpr compiled_template compile_template(const char* line_template) {
    compiled_template compiled{};
    int column = 0;
    for (; line_template[column] != END_OF_TEMPLATE && column < LINE_CAPACITY; ++column)
        compiled.classes[static_cast<std::size_t>(column)] = classes_of_code(line_template[column]);
    compiled.width = column;
    compiled.ends_with_check_digit = column > 0 && line_template[column - 1] == CHECK_DIGIT_CODE;
    return compiled;
}

constexpr compiled_template NAME_COLUMNS = compile_template(NAME_TEMPLATE);
constexpr compiled_template LINE_ONE_COLUMNS = compile_template(LINE_ONE_TEMPLATE);
constexpr compiled_template LINE_TWO_COLUMNS = compile_template(LINE_TWO_TEMPLATE);

// Columns 1 to 68 carry the sums; column 69 is the check digit.
constexpr int SUMMED_COLUMNS = SET_LINE_WIDTH - 1;

#ifdef KEPSIFT_SSE2
// A compiled line template laid out for sixteen columns at a time: four
// steps from column 1, and a last one over columns 54 to 69 that overlaps
// the fourth.  Each column is tested in one of two ways: a byte range (an
// exact character, a digit, a printable byte), or one of the two classes
// that are no range (letter or space; field character).
constexpr int VECTOR_WIDTH = 16;
constexpr int VECTOR_STEPS = 5;
constexpr std::array<int, VECTOR_STEPS> STEP_COLUMNS = {0, VECTOR_WIDTH, 2 * VECTOR_WIDTH, 3 * VECTOR_WIDTH,
                                                        SET_LINE_WIDTH - VECTOR_WIDTH};
static_assert(3 * VECTOR_WIDTH + VECTOR_WIDTH >= SET_LINE_WIDTH - VECTOR_WIDTH,
              "the steps leave no column out");

using lanes = std::array<std::int8_t, VECTOR_WIDTH>;
struct vector_template {
    // Added to each byte so that its range starts at -128 ...
    alignas(16) std::array<lanes, VECTOR_STEPS> bias;
    // ... and ends before this, a signed compare; -128 where no range.
    alignas(16) std::array<lanes, VECTOR_STEPS> bound;
    // All ones where the column's class is letter or space, or field character.
    alignas(16) std::array<lanes, VECTOR_STEPS> letter_or_space;
    alignas(16) std::array<lanes, VECTOR_STEPS> field;
};

// The bytes low to high that a column with these classes accepts, if they
// are one range.
constexpr bool range_of(std::uint8_t classes, int& low, int& high) {
    switch (classes) {
    case SPACE: low = high = ' '; return true;
    case POINT: low = high = '.'; return true;
    case ONE: low = high = '1'; return true;
    case TWO: low = high = '2'; return true;
    case DIGIT: low = '0', high = '9'; return true;
    case PRINTABLE: low = ' ', high = '~'; return true;
    default: return false;
    }
}

constexpr bool column_vectorises(std::uint8_t classes) {
    int low = 0;
    int high = 0;
    return range_of(classes, low, high) || classes == LETTER_OR_SPACE || classes == FIELD_CHARACTER;
}

constexpr bool template_vectorises(const compiled_template& compiled) {
    if (compiled.width != SET_LINE_WIDTH) return false;
    for (int column = 0; column < compiled.width; ++column)
        if (!column_vectorises(compiled.classes[static_cast<std::size_t>(column)])) return false;
    return true;
}

constexpr vector_template vectorise(const compiled_template& compiled) {
    vector_template vectors{};
    for (std::size_t step = 0; step < VECTOR_STEPS; ++step) {
        for (std::size_t lane = 0; lane < VECTOR_WIDTH; ++lane) {
            const auto column = static_cast<std::size_t>(STEP_COLUMNS[step]) + lane;
            const std::uint8_t classes = compiled.classes[column];
            int low = 0;
            int high = 0;
            const bool ranged = range_of(classes, low, high);
            vectors.bias[step][lane] = static_cast<std::int8_t>(ranged ? 128 - low : 0);
            vectors.bound[step][lane] = static_cast<std::int8_t>(ranged ? high - low + 1 - 128 : -128);
            vectors.letter_or_space[step][lane] = classes == LETTER_OR_SPACE ? -1 : 0;
            vectors.field[step][lane] = classes == FIELD_CHARACTER ? -1 : 0;
        }
    }
    return vectors;
}

static_assert(template_vectorises(LINE_ONE_COLUMNS) && template_vectorises(LINE_TWO_COLUMNS));

__m128i load_lanes(const lanes& values) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(values.data()));
}

// The bytes from low to high, as all ones.
__m128i in_range(__m128i bytes, char low, char high) {
    return _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(128 - low))),
                          _mm_set1_epi8(static_cast<char>(high - low + 1 - 128)));
}

// True if each of the 69 columns from bytes holds a byte its template
// accepts, the check digit column taken as a plain digit.  All five steps
// are tested, with no branch between them.
bool columns_pass(const char* bytes, const vector_template& vectors) {
    __m128i all = _mm_set1_epi8(-1);
    for (std::size_t step = 0; step < VECTOR_STEPS; ++step) {
        const __m128i run = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + STEP_COLUMNS[step]));
        const __m128i ranged = _mm_cmplt_epi8(_mm_add_epi8(run, load_lanes(vectors.bias[step])),
                                              load_lanes(vectors.bound[step]));
        const __m128i letter = in_range(_mm_or_si128(run, _mm_set1_epi8(0x20)), 'a', 'z');
        const __m128i letter_or_space = _mm_or_si128(letter, _mm_cmpeq_epi8(run, _mm_set1_epi8(' ')));
        const __m128i signs =
            _mm_or_si128(_mm_cmpeq_epi8(run, _mm_set1_epi8('+')), _mm_cmpeq_epi8(run, _mm_set1_epi8('-')));
        const __m128i field = _mm_or_si128(_mm_or_si128(letter_or_space, in_range(run, '0', '9')),
                                           _mm_or_si128(signs, _mm_cmpeq_epi8(run, _mm_set1_epi8('.'))));
        const __m128i classed =
            _mm_or_si128(_mm_and_si128(letter_or_space, load_lanes(vectors.letter_or_space[step])),
                         _mm_and_si128(field, load_lanes(vectors.field[step])));
        all = _mm_and_si128(all, _mm_or_si128(ranged, classed));
    }
    return _mm_movemask_epi8(all) == 0xFFFF;
}

#ifdef KEPSIFT_AVX2
// With AVX2 a byte's classes come from two table look-ups, one by each of
// its halves (pshufb): each class is one rectangle of high and low halves,
// so a byte is in it if both halves' entries carry its bit.  Bytes 128 to
// 255 have high halves 8 to 15, whose entries carry none.
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

constexpr std::array<half_rectangle, 8> HALF_CLASSES = {{
    {HALF_SPACE, halves(2, 2), halves(0, 0)},
    {HALF_POINT, halves(2, 2), halves(14, 14)},
    {HALF_SIGN, halves(2, 2), static_cast<std::uint16_t>(halves(11, 11) | halves(13, 13))},
    {HALF_DIGIT, halves(3, 3), halves(0, 9)},
    {HALF_ONE, halves(3, 3), halves(1, 1)},
    {HALF_TWO, halves(3, 3), halves(2, 2)},
    {HALF_LETTER_LOW, static_cast<std::uint16_t>(halves(4, 4) | halves(6, 6)), halves(1, 15)},
    {HALF_LETTER_HIGH, static_cast<std::uint16_t>(halves(5, 5) | halves(7, 7)), halves(0, 10)},
}};

// The look-up table by high halves (high) or by low halves, twice over for
// the two 128-bit lanes.
constexpr std::array<std::uint8_t, 32> half_table(bool high) {
    std::array<std::uint8_t, 32> table{};
    for (int half = 0; half < 16; ++half)
        for (const half_rectangle& rectangle : HALF_CLASSES)
            if (((high ? rectangle.highs : rectangle.lows) >> half & 1U) != 0) {
                table[static_cast<std::size_t>(half)] |= rectangle.bit;
                table[static_cast<std::size_t>(half + 16)] |= rectangle.bit;
            }
    return table;
}

alignas(32) constexpr std::array<std::uint8_t, 32> HIGH_HALF_TABLE = half_table(true);
alignas(32) constexpr std::array<std::uint8_t, 32> LOW_HALF_TABLE = half_table(false);

constexpr std::uint8_t half_classes_of_byte(int byte) {
    return HIGH_HALF_TABLE[static_cast<std::size_t>(byte >> 4)] &
           LOW_HALF_TABLE[static_cast<std::size_t>(byte & 15)];
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

// The half classes accept exactly the bytes the class table does, for
// every code of the line templates and every byte.
constexpr bool half_classes_agree() {
    for (const char code : {' ', '.', '1', '2', 'd', 'l', 'x', 'C'}) {
        const std::uint8_t classes = classes_of_code(code);
        for (int byte = 0; byte < 256; ++byte) {
            const bool by_table = (BYTE_CLASSES[static_cast<std::size_t>(byte)] & classes) != 0;
            const bool by_halves = (half_classes_of_byte(byte) & half_classes_of(classes)) != 0;
            if (by_table != by_halves) return false;
        }
    }
    return true;
}
static_assert(half_classes_agree());

// Three steps of 32 columns: 1 to 32, 33 to 64 and 38 to 69.
constexpr int WIDE_WIDTH = 32;
constexpr int WIDE_STEPS = 3;
constexpr std::array<int, WIDE_STEPS> WIDE_STEP_COLUMNS = {0, WIDE_WIDTH, SET_LINE_WIDTH - WIDE_WIDTH};

struct wide_template {
    alignas(32) std::array<std::array<std::uint8_t, WIDE_WIDTH>, WIDE_STEPS> accepted;
};

constexpr wide_template widen(const compiled_template& compiled) {
    wide_template wide{};
    for (std::size_t step = 0; step < WIDE_STEPS; ++step)
        for (std::size_t lane = 0; lane < WIDE_WIDTH; ++lane)
            wide.accepted[step][lane] =
                half_classes_of(compiled.classes[static_cast<std::size_t>(WIDE_STEP_COLUMNS[step]) + lane]);
    return wide;
}

[[gnu::target("avx2")]] inline __m256i load_wide(const void* bytes) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(bytes));
}

// What each column adds to the plain sum: a digit its value, a '-' 1.
[[gnu::target("avx2")]] inline __m256i what_columns_add(__m256i run) {
    const __m256i digit = _mm256_sub_epi8(run, _mm256_set1_epi8('0'));
    const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit);
    const __m256i is_minus = _mm256_cmpeq_epi8(run, _mm256_set1_epi8('-'));
    return _mm256_or_si256(_mm256_and_si256(is_digit, digit),
                           _mm256_and_si256(is_minus, _mm256_set1_epi8(1)));
}

// What columns 1 to 68 of three steps add to the plain sum: all of the
// first two, and of the third, which starts at column 38, only 65 to 68.
[[gnu::target("avx2")]] inline int plain_sum_of_steps(__m256i first, __m256i second, __m256i third) {
    const __m256i last_four = _mm256_set_epi8(0, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i sum = _mm256_add_epi8(_mm256_add_epi8(what_columns_add(first), what_columns_add(second)),
                                        _mm256_and_si256(what_columns_add(third), last_four));
    const __m256i quarters = _mm256_sad_epu8(sum, _mm256_setzero_si256());
    const __m128i halves_sum =
        _mm_add_epi64(_mm256_castsi256_si128(quarters), _mm256_extracti128_si256(quarters, 1));
    return _mm_cvtsi128_si32(halves_sum) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves_sum, halves_sum));
}

// The classes each byte of a run belongs to.
[[gnu::target("avx2")]] inline __m256i half_classes(__m256i run) {
    const __m256i low_half = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(
        _mm256_shuffle_epi8(load_wide(HIGH_HALF_TABLE.data()),
                            _mm256_and_si256(_mm256_srli_epi16(run, 4), low_half)),
        _mm256_shuffle_epi8(load_wide(LOW_HALF_TABLE.data()), _mm256_and_si256(run, low_half)));
}

// The plain sum of the 69 columns from bytes if every one of them holds a
// byte its template accepts (the check digit taken as a plain digit), or
// -1.  The sums come from the same loads as the classes.
[[gnu::target("avx2")]] int plain_sum_if_columns_pass(const char* bytes, const wide_template& wide) {
    __m256i runs[WIDE_STEPS];
    __m256i failed = _mm256_setzero_si256();
    for (std::size_t step = 0; step < WIDE_STEPS; ++step) {
        runs[step] = load_wide(bytes + WIDE_STEP_COLUMNS[step]);
        const __m256i accepted =
            _mm256_and_si256(half_classes(runs[step]), load_wide(wide.accepted[step].data()));
        failed = _mm256_or_si256(failed, _mm256_cmpeq_epi8(accepted, _mm256_setzero_si256()));
    }
    if (_mm256_testz_si256(failed, failed) == 0) return -1;
    return plain_sum_of_steps(runs[0], runs[1], runs[2]);
}

// Copies 69 columns with every '+' a space, and tells whether there was
// one.  All three steps are loaded before any is stored, so the copy may be
// made in place.
[[gnu::target("avx2")]] bool copy_replacing_plus_avx2(char* to, const char* from) {
    __m256i runs[WIDE_STEPS];
    for (std::size_t step = 0; step < WIDE_STEPS; ++step)
        runs[step] = load_wide(from + WIDE_STEP_COLUMNS[step]);
    __m256i any_plus = _mm256_setzero_si256();
    for (std::size_t step = 0; step < WIDE_STEPS; ++step) {
        const __m256i plus = _mm256_cmpeq_epi8(runs[step], _mm256_set1_epi8('+'));
        any_plus = _mm256_or_si256(any_plus, plus);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + WIDE_STEP_COLUMNS[step]),
                            _mm256_sub_epi8(runs[step], _mm256_and_si256(plus, _mm256_set1_epi8('+' - ' '))));
    }
    return _mm256_testz_si256(any_plus, any_plus) == 0;
}

#endif

// A line template in the forms each width of step reads.
struct line_vectors {
    vector_template narrow;
#ifdef KEPSIFT_AVX2
    wide_template wide;
#endif
};

constexpr line_vectors LINE_ONE_VECTORS{vectorise(LINE_ONE_COLUMNS)
#ifdef KEPSIFT_AVX2
                                            ,
                                        widen(LINE_ONE_COLUMNS)
#endif
};
constexpr line_vectors LINE_TWO_VECTORS{vectorise(LINE_TWO_COLUMNS)
#ifdef KEPSIFT_AVX2
                                            ,
                                        widen(LINE_TWO_COLUMNS)
#endif
};

#else
// Without SSE2 the lines are checked column by column alone.
struct line_vectors {};
constexpr line_vectors LINE_ONE_VECTORS{};
constexpr line_vectors LINE_TWO_VECTORS{};
#endif

#ifdef KEPSIFT_SSE2
// The sum of what adds gives each of columns 1 to 68, sixteen at a time:
// psadbw adds up sixteen bytes.  The last step loads columns 53 to 68 and
// keeps only 65 to 68, which no earlier step took.  Each byte of the sum is
// at most 5 * 9, so the byte additions cannot carry.
template <typename Adds> int sum_of_columns(const char* columns, Adds adds) {
    constexpr int STEP = 16;
    static_assert(SUMMED_COLUMNS == 4 * STEP + 4);
    const auto load = [columns](int from) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + from));
    };
    const __m128i last_four = _mm_set_epi32(-1, 0, 0, 0);
    const __m128i sum =
        _mm_add_epi8(_mm_add_epi8(adds(load(0)), adds(load(STEP))),
                     _mm_add_epi8(_mm_add_epi8(adds(load(2 * STEP)), adds(load(3 * STEP))),
                                  _mm_and_si128(adds(load(SUMMED_COLUMNS - STEP)), last_four)));
    const __m128i halves = _mm_sad_epu8(sum, _mm_setzero_si128());
    return _mm_cvtsi128_si32(halves) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves));
}
#endif

// Each digit adds its value and each '-' adds 1, over columns 1 to 68.
int plain_sum(const char* columns) {
#ifdef KEPSIFT_SSE2
    return sum_of_columns(columns, [](__m128i bytes) {
        const __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
        const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
        const __m128i is_minus = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('-'));
        return _mm_or_si128(_mm_and_si128(is_digit, digit), _mm_and_si128(is_minus, _mm_set1_epi8(1)));
    });
#else
    int sum = 0;
    for (int k = 0; k < SUMMED_COLUMNS; ++k) {
        const auto digit = static_cast<unsigned char>(columns[k] - '0');
        sum += digit < 10 ? digit : columns[k] == '-';
    }
    return sum;
#endif
}

// The plus signs among columns 1 to 68.
int plus_signs(const char* columns) {
#ifdef KEPSIFT_SSE2
    return sum_of_columns(columns, [](__m128i bytes) {
        return _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')), _mm_set1_epi8(1));
    });
#else
    return static_cast<int>(std::count(columns, columns + SUMMED_COLUMNS, '+'));
#endif
}

// True if value is the check digit of columns 1 to 68, whose plain sum is
// plain, under either rule.  The plus rule adds 2 for each '+'; few lines
// carry one, so they are counted only when the plain rule fails.
bool plus_rule_fits(const char* columns, int value, int plain) {
    const int plus = plus_signs(columns);
    return plus != 0 && value == (plain + 2 * plus) % 10;
}

[[gnu::always_inline]] inline bool check_digit_fits(const char* columns, int value, int plain) {
    return value == plain % 10 || plus_rule_fits(columns, value, plain);
}

// Copies 69 columns of line 1 or line 2 from from to to, every '+' a space,
// and tells whether there was one.  Each step is loaded before it is
// stored, so the copy may be made in place.
bool copy_replacing_plus(char* to, const char* from) {
#ifdef KEPSIFT_SSE2
    __m128i runs[VECTOR_STEPS];
    for (std::size_t step = 0; step < VECTOR_STEPS; ++step)
        runs[step] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + STEP_COLUMNS[step]));
    __m128i any_plus = _mm_setzero_si128();
    for (std::size_t step = 0; step < VECTOR_STEPS; ++step) {
        const __m128i plus = _mm_cmpeq_epi8(runs[step], _mm_set1_epi8('+'));
        any_plus = _mm_or_si128(any_plus, plus);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + STEP_COLUMNS[step]),
                         _mm_sub_epi8(runs[step], _mm_and_si128(plus, _mm_set1_epi8('+' - ' '))));
    }
    return _mm_movemask_epi8(any_plus) != 0;
#else
    bool any_plus = false;
    for (int k = 0; k < SET_LINE_WIDTH; ++k) {
        any_plus |= from[k] == '+';
        to[k] = from[k] == '+' ? ' ' : from[k];
    }
    return any_plus;
#endif
}

// The same, with the check digit rewritten by the plain rule.  A '+' adds
// nothing to the plain sum, so the sum of the line as read is the sum as
// written.
void copy_normalised(char* to, const char* from) {
    const int plain = plain_sum(from);
#ifdef KEPSIFT_AVX2
    if (HAS_AVX2)
        copy_replacing_plus_avx2(to, from);
    else
#endif
        copy_replacing_plus(to, from);
    to[SUMMED_COLUMNS] = static_cast<char>('0' + plain % 10);
}

[[noreturn]] void template_fault() {
    std::fputs("Fatal error: bad case.\n", stderr);
    std::fflush(nullptr);
    std::exit(EXIT_FAILURE);
}

// The one interpreter of compiled templates.  Called with a constant
// template it is inlined and unrolled, so that each column costs a load, a
// table look-up and a test; a code that is not one fails every byte, and
// only then is it found out.
[[gnu::always_inline]] inline bool template_passes(const input_line& line, int column,
                                                   const compiled_template& compiled) {
    const char* bytes = line.chars + column;
#pragma GCC unroll 72
    for (int k = 0; k < compiled.width; ++k) {
        const std::uint8_t wanted = compiled.classes[static_cast<std::size_t>(k)];
        if ((BYTE_CLASSES[static_cast<unsigned char>(bytes[k])] & wanted) == 0) {
            if (wanted == 0) template_fault();
            return false;
        }
    }
    // A check digit is always a template's last column, so the sums are
    // taken only once every other column has passed.
    return !compiled.ends_with_check_digit || checksum_matches(line, column, bytes[compiled.width - 1]);
}

// True if line passes the template of line 1 or line 2 at column.
[[gnu::always_inline]] inline bool set_line_passes(const input_line& line, int column,
                                                   [[maybe_unused]] const compiled_template& compiled,
                                                   [[maybe_unused]] const line_vectors& vectors) {
#ifdef KEPSIFT_SSE2
    const char* bytes = line.chars + column;
    return columns_pass(bytes, vectors.narrow) && checksum_matches(line, column, bytes[SET_LINE_WIDTH - 1]);
#else
    return template_passes(line, column, compiled);
#endif
}

// True if one holds a line 1 and two a line 2 at column.
#ifdef KEPSIFT_AVX2
[[gnu::target("avx2")]] inline bool set_line_passes_avx2(const char* bytes, const wide_template& wide) {
    const int plain = plain_sum_if_columns_pass(bytes, wide);
    return plain >= 0 && check_digit_fits(bytes, bytes[SET_LINE_WIDTH - 1] - '0', plain);
}

[[gnu::target("avx2")]] bool pair_passes_avx2(const char* one, const char* two) {
    return set_line_passes_avx2(one, LINE_ONE_VECTORS.wide) &&
           set_line_passes_avx2(two, LINE_TWO_VECTORS.wide);
}
#endif

bool pair_passes(const input_line& one, const input_line& two, int column) {
#ifdef KEPSIFT_AVX2
    if (HAS_AVX2) return pair_passes_avx2(one.chars + column, two.chars + column);
#endif
    return set_line_passes(one, column, LINE_ONE_COLUMNS, LINE_ONE_VECTORS) &&
           set_line_passes(two, column, LINE_TWO_COLUMNS, LINE_TWO_VECTORS);
}

#ifdef KEPSIFT_SSE2
// The columns of a template that want one exact character, after the first
// two, which the quick test always looks at: (column, character) pairs.
struct exact_column {
    int column;
    char byte;
};

constexpr int count_exact_columns(const char* line_template) {
    int count = 0;
    for (int column = 2; line_template[column] != END_OF_TEMPLATE; ++column)
        if (std::string_view(" .12").find(line_template[column]) != std::string_view::npos) ++count;
    return count;
}

template <std::size_t Count>
constexpr std::array<exact_column, Count> exact_columns_of(const char* line_template) {
    std::array<exact_column, Count> columns{};
    std::size_t found = 0;
    for (int column = 2; line_template[column] != END_OF_TEMPLATE; ++column)
        if (std::string_view(" .12").find(line_template[column]) != std::string_view::npos)
            columns[found++] = {column, line_template[column]};
    return columns;
}

constexpr auto LINE_ONE_EXACT = exact_columns_of<count_exact_columns(LINE_ONE_TEMPLATE)>(LINE_ONE_TEMPLATE);
constexpr auto LINE_TWO_EXACT = exact_columns_of<count_exact_columns(LINE_TWO_TEMPLATE)>(LINE_TWO_TEMPLATE);

// A candidate's column is at most LINE_CAPACITY - SET_LINE_WIDTH, so the
// first column of its block of sixteen at most this.
constexpr int LAST_BLOCK = (LINE_CAPACITY - SET_LINE_WIDTH) / 16 * 16;
static_assert(LAST_BLOCK + LINE_ONE_EXACT.back().column + 16 <= LINE_CAPACITY &&
                  LAST_BLOCK + LINE_TWO_EXACT.back().column + 16 <= LINE_CAPACITY,
              "the loads of exact columns stay within a line's storage");

// The 16 columns from from at which a line holds its template's exact
// characters, as all ones.
template <std::size_t Count>
__m128i holds_exact_columns(const input_line& line, int from,
                            const std::array<exact_column, Count>& columns) {
    __m128i all = _mm_set1_epi8(-1);
    for (const exact_column& exact : columns)
        all = _mm_and_si128(all, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                    line.chars + from + exact.column)),
                                                _mm_set1_epi8(exact.byte)));
    return all;
}
#endif

// The leftmost column from 0 to last at which first holds '1' and second
// holds '2' (the quick test) and passes(column) holds.
template <typename Check>
int leftmost_column(const input_line& first, const input_line& second, int last, Check passes) {
#ifdef KEPSIFT_SSE2
    // The quick test sixteen columns at a time; the bits of candidates are
    // then tried from the lowest.  A load may reach past a line's length,
    // never past its storage: last + 16 stays below LINE_CAPACITY.
    constexpr int STEP = 16;
    static_assert(STEP <= SET_LINE_WIDTH, "last is at most LINE_CAPACITY - SET_LINE_WIDTH");
    // Column 2 of both lines, a space, is tested with the line numbers:
    // it turns away most of the places where a '1' meets a '2' by chance.
    static_assert(LINE_ONE_TEMPLATE[1] == ' ' && LINE_TWO_TEMPLATE[1] == ' ');
    const auto holds = [](const input_line& line, int from, char byte) {
        return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line.chars + from)),
                              _mm_set1_epi8(byte));
    };
    for (int from = 0; from <= last; from += STEP) {
        const __m128i numbers = _mm_and_si128(holds(first, from, '1'), holds(second, from, '2'));
        const __m128i spaces = _mm_and_si128(holds(first, from + 1, ' '), holds(second, from + 1, ' '));
        auto candidates = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(numbers, spaces)));
        if (last - from < STEP - 1) candidates &= (1U << (last - from + 1)) - 1;
        // Where candidates crowd (text built of "1 " and "2 ", say), every
        // column with an exact character is tested too, sixteen candidates
        // at a time, so that no more than one in about 24 columns is left
        // to the full check.
        if ((candidates & (candidates - 1)) != 0)
            candidates &= static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(holds_exact_columns(first, from, LINE_ONE_EXACT),
                                                holds_exact_columns(second, from, LINE_TWO_EXACT))));
        for (; candidates != 0; candidates &= candidates - 1) {
            const int column = from + __builtin_ctz(candidates);
            if (passes(column)) return column;
        }
    }
#else
    for (int column = 0; column <= last; ++column) {
        const void* one = std::memchr(first.chars + column, '1', static_cast<std::size_t>(last - column + 1));
        if (one == nullptr) break;
        column = static_cast<int>(static_cast<const char*>(one) - first.chars);
        if (second.chars[column] == '2' && passes(column)) return column;
    }
#endif
    return NO_COLUMN;
}

// The most bytes of one written set: three lines of at most 69 bytes, each
// with its LF.
constexpr int MOST_SET_BYTES = 3 * (SET_LINE_WIDTH + 1);

// How far the copy of a name may reach: whole steps of up to 32 bytes over
// its 69 bytes.
constexpr int NAME_COPY_REACH = (SET_LINE_WIDTH + 31) / 32 * 32;
static_assert(NAME_COPY_REACH <= MOST_SET_BYTES, "the copy stays within the room for a set");

// The name ends at a NUL or a tab, and where two spaces meet: names in
// catalogs are padded with spaces to a fixed width.

#ifdef KEPSIFT_SSE2
// Where the name ends within the step of width bytes from first, given the
// marks of its spaces and of its NULs and tabs (a bit a byte), or
// NO_COLUMN.  A pair of spaces may straddle two steps: space_before
// carries a step's last space into the next.
[[gnu::always_inline]] inline int name_end_in_step(unsigned spaces, unsigned stops, unsigned& space_before,
                                                   int first, int width) {
    // Each bit marks the second space of a pair.
    const unsigned pairs = spaces & ((spaces << 1) | space_before);
    if ((pairs & 1U) != 0) return first - 1;
    if (const unsigned ends = stops | (pairs >> 1); ends != 0) return first + __builtin_ctz(ends);
    space_before = spaces >> (width - 1);
    return NO_COLUMN;
}

// Copies the name to to sixteen bytes at a time and returns its length; the
// copy may run up to 80 bytes past to.  Each step marks the NULs, tabs and
// spaces among the bytes available; a pair of spaces may straddle two steps.
int put_name_vectors(char* to, const char* name, int available) {
    unsigned space_before = 0;
    for (int first = 0; first < available; first += VECTOR_WIDTH) {
        const __m128i run = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name + first));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + first), run);
        const unsigned held = available - first >= VECTOR_WIDTH ? 0xFFFFU : (1U << (available - first)) - 1;
        const auto marks = [&](char byte) {
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(run, _mm_set1_epi8(byte)))) & held;
        };
        if (const int end =
                name_end_in_step(marks(' '), marks('\0') | marks('\t'), space_before, first, VECTOR_WIDTH);
            end != NO_COLUMN)
            return end;
    }
    return available;
}
#endif

#ifdef KEPSIFT_AVX2
// The same 32 bytes at a time.
[[gnu::target("avx2")]] int put_name_avx2(char* to, const char* name, int available) {
    unsigned space_before = 0;
    for (int first = 0; first < available; first += WIDE_WIDTH) {
        const __m256i run = load_wide(name + first);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + first), run);
        const unsigned held = available - first >= WIDE_WIDTH ? ~0U : (1U << (available - first)) - 1;
        const auto marks = [&](char byte) __attribute__((target("avx2"))) {
            return static_cast<unsigned>(
                       _mm256_movemask_epi8(_mm256_cmpeq_epi8(run, _mm256_set1_epi8(byte)))) &
                   held;
        };
        if (const int end =
                name_end_in_step(marks(' '), marks('\0') | marks('\t'), space_before, first, WIDE_WIDTH);
            end != NO_COLUMN)
            return end;
    }
    return available;
}
#endif

// The name's length, scanned a byte at a time.
int name_length(const char* name, int available) {
    int length = 0;
    while (length < available && name[length] != '\0' && name[length] != '\t' &&
           !(name[length] == ' ' && length + 1 < available && name[length + 1] == ' '))
        ++length;
    return length;
}

// Puts a set whose name comes from name_line, or an empty name without it,
// at to; returns how many bytes it put.  put_name copies a name of
// available bytes and returns its length; copy_line copies a line,
// replacing its plus signs, and tells whether it had one.  Inlined into a
// caller of each kind, with its helpers.
//
// The set passed its check, so a line without a '+' has the plain check
// digit already: both rules give the same digit there.  Only a line with
// one has its digit rewritten.
template <int (*put_name)(char*, const char*, int), bool (*copy_line)(char*, const char*)>
[[gnu::always_inline]] inline int put_set_with(char* to, const input_line* name_line, const input_line& one,
                                               const input_line& two, int column) {
    int length = 0;
    if (name_line != nullptr) {
        const char* name = name_line->chars + column;
        const int available = std::min(SET_LINE_WIDTH, name_line->length - column);
        // The copy reads whole steps, never past the line's storage.
        if (column + NAME_COPY_REACH <= LINE_CAPACITY) {
            length = put_name(to, name, available);
        } else {
            length = name_length(name, available);
            std::memcpy(to, name, static_cast<std::size_t>(length));
        }
    }
    to[length++] = '\n';
    for (const input_line* line : {&one, &two}) {
        const char* from = line->chars + column;
        if (copy_line(to + length, from))
            to[length + SUMMED_COLUMNS] = static_cast<char>('0' + plain_sum(from) % 10);
        to[length + SET_LINE_WIDTH] = '\n';
        length += SET_LINE_WIDTH + 1;
    }
    return length;
}

#ifdef KEPSIFT_AVX2
[[gnu::target("avx2")]] int put_set_avx2(char* to, const input_line* name_line, const input_line& one,
                                         const input_line& two, int column) {
    return put_set_with<put_name_avx2, copy_replacing_plus_avx2>(to, name_line, one, two, column);
}
#endif

#ifndef KEPSIFT_SSE2
// Without SSE2 the name is scanned a byte at a time.
int put_name_vectors(char* to, const char* name, int available) {
    const int length = name_length(name, available);
    std::memcpy(to, name, static_cast<std::size_t>(length));
    return length;
}
#endif

int put_set(char* to, const input_line* name_line, const input_line& one, const input_line& two, int column) {
#ifdef KEPSIFT_AVX2
    if (HAS_AVX2) return put_set_avx2(to, name_line, one, two, column);
#endif
    return put_set_with<put_name_vectors, copy_replacing_plus>(to, name_line, one, two, column);
}

// Writes the set.  When the stream's buffer has room, the set is put there
// directly; otherwise it is gathered in a scratch buffer and written with
// one call, which also flushes the buffer when it is full.
void write_lines(const input_line* name_line, const input_line& one, const input_line& two, int column,
                 FILE* output) {
    char* room = nullptr;
    if (output_room(output, &room) >= MOST_SET_BYTES) {
        commit_output(output, static_cast<std::size_t>(put_set(room, name_line, one, two, column)));
        return;
    }
    char scratch[MOST_SET_BYTES];
    const int length = put_set(scratch, name_line, one, two, column);
    std::fwrite(scratch, 1, static_cast<std::size_t>(length), output);
}

} // namespace

bool line_passes(const input_line& line, int column, const char* line_template) {
    return template_passes(line, column, compile_template(line_template));
}

bool checksum_matches(const input_line& line, int column, char digit) {
    const char* columns = line.chars + column;
    return check_digit_fits(columns, digit - '0', plain_sum(columns));
}

bool check_set_at(const line_window& window, int column) {
    return template_passes(window.name_line, column, NAME_COLUMNS) &&
           pair_passes(window.line_one, window.line_two, column);
}

int find_set(const line_window& window) {
    const int last = std::min(std::min(window.line_one.length, window.line_two.length) - SET_LINE_WIDTH,
                              window.name_line.length - 1);
    return leftmost_column(window.line_one, window.line_two, last,
                           [&](int column) { return check_set_at(window, column); });
}

window_search search_window(const line_window& window) {
    // Every pair is tried twice as the window slides: as line_one and
    // line_two with a name, then as name_line and line_one, bare.  The
    // search tries each candidate's pair first, whatever the name line
    // holds, so that a search that finds no set has found the pair for the
    // next window too.
    const int last_pair = std::min(window.line_one.length, window.line_two.length) - SET_LINE_WIDTH;
    const int last_set = std::min(last_pair, window.name_line.length - 1);
    window_search found{NO_COLUMN, NO_COLUMN};
    found.set_column = leftmost_column(window.line_one, window.line_two, last_pair, [&](int column) {
        if (!pair_passes(window.line_one, window.line_two, column)) return false;
        if (found.pair_column == NO_COLUMN) found.pair_column = column;
        return column <= last_set && template_passes(window.name_line, column, NAME_COLUMNS);
    });
    return found;
}

int find_bare_pair(const line_window& window) {
    const int last = std::min(window.name_line.length, window.line_one.length) - SET_LINE_WIDTH;
    return leftmost_column(window.name_line, window.line_one, last, [&](int column) {
        return pair_passes(window.name_line, window.line_one, column);
    });
}

void normalise_set_line(char* copy) { copy_normalised(copy, copy); }

void write_set(const line_window& window, int column, FILE* output) {
    write_lines(&window.name_line, window.line_one, window.line_two, column, output);
}

void write_bare_pair(const line_window& window, int column, FILE* output) {
    write_lines(nullptr, window.name_line, window.line_one, column, output);
}
