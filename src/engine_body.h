// SPDX-License-Identifier: ISC
// The engine, written once: the reader's scan, the quick test and the scan
// of candidate columns, the class check with both check-digit sums, the
// name cut, the copy that turns plus signs into spaces, and the writer of a
// set.  Each file of src/simd/ includes this once, inside the namespace of
// its vector layer, after engine.h and layout.h.  The layer gives it:
//
//   WIDTH, bytes     a vector of WIDTH unsigned bytes (GNU vector extensions);
//   equal(a, b)      all ones in the lanes where a and b are equal, zeros
//                    elsewhere; at_most(a, b) the same where a <= b;
//   lane_bits        an unsigned integer with BITS_PER_LANE bits a lane,
//                    of which only the top one is ever set;
//   lanes_set(v)     the lanes of a vector of all-ones or all-zeros lanes
//                    that are all ones;
//   any(v)           whether any lane is not zero;
//   byte_sum(v)      the sum of all lanes;
//   one_lane_on(a, b) the lanes of a and b, taken from a's second lane on:
//                    what a load one byte further than a's would give;
//   lookup16(t, v)   where HAS_LOOKUP: each lane's entry in a table of
//                    sixteen, by the lane's low four bits; a lane of 128
//                    or more may get 0 instead;
//   lowest(a, b)     where HAS_LOOKUP: the lesser of a and b in each lane;
//   CHECK_IN_SEARCH  whether the check of a candidate pair is compiled into
//                    the search, or called;
//   lanes_from_first_holding(v, a, b)
//                    where not HAS_LOOKUP: the lanes that hold a or b, of
//                    which only the first need be right.
//
// Everything here has internal linkage but the one table at the end, so
// that no function compiled for one processor can stand in for another's.
// For the same reason nothing here calls a library template.

#ifndef KEPSIFT_ENGINE_H
#error "engine.h and layout.h come before the engine's body"
#endif

namespace {

static_assert(WIDTH >= 8 && WIDTH <= SET_LINE_WIDTH && 2 * WIDTH <= READ_SLACK);

[[gnu::always_inline]] inline bytes load(const void* from) {
    bytes run;
    __builtin_memcpy(&run, from, sizeof run);
    return run;
}

[[gnu::always_inline]] inline void store(void* to, bytes run) { __builtin_memcpy(to, &run, sizeof run); }

[[gnu::always_inline]] inline bytes splat(std::uint8_t value) { return bytes{} + value; }

[[gnu::always_inline]] inline int smaller(int a, int b) { return a < b ? a : b; }

// Lane sets, taken from the lowest lane up.
[[gnu::always_inline]] inline int first_lane(lane_bits set) { return __builtin_ctzll(set) / BITS_PER_LANE; }
[[gnu::always_inline]] inline lane_bits without_first(lane_bits set) { return set & (set - 1); }
[[gnu::always_inline]] inline bool several(lane_bits set) { return without_first(set) != 0; }
[[gnu::always_inline]] inline lane_bits first_lanes(int count) {
    return count >= WIDTH ? ~lane_bits{0} : (lane_bits{1} << (count * BITS_PER_LANE)) - 1;
}

// All ones in the lanes that hold byte.
[[gnu::always_inline]] inline bytes holding(bytes run, std::uint8_t byte) { return equal(run, splat(byte)); }

// A line of 69 columns is taken in STEPS vectors: whole vectors from column
// 1, and a last one that ends at column 69 and overlaps the one before.
constexpr int STEPS = (SET_LINE_WIDTH + WIDTH - 1) / WIDTH;

constexpr int step_start(int step) { return step + 1 < STEPS ? step * WIDTH : SET_LINE_WIDTH - WIDTH; }

// A value for each column of each step, laid out as the steps load them.
struct step_table {
    std::uint8_t of[STEPS][WIDTH];
};

// All ones in the columns that add to the check-digit sums, each once:
// columns 1 to 68, and in the last step only those no step before took.
constexpr step_table make_summed() {
    step_table summed{};
    for (int step = 0; step < STEPS; ++step) {
        const int taken_before = step + 1 == STEPS ? step_start(step - 1) + WIDTH : step_start(step);
        for (int lane = 0; lane < WIDTH; ++lane) {
            const int column = step_start(step) + lane;
            summed.of[step][lane] = column < layout::SUMMED_COLUMNS && column >= taken_before ? 0xFF : 0;
        }
    }
    return summed;
}

constexpr step_table SUMMED = make_summed();

// A line template in both class forms of layout.h, laid out in steps.
struct line_form {
    // The look-up form: the half classes each column accepts.
    step_table accepted;
    // The range form: each column's range, and all ones where the column
    // takes letters and spaces, or field characters.
    step_table low;
    step_table span;
    step_table letters;
    step_table fields;
};

constexpr line_form make_form(const layout::compiled_template& compiled) {
    line_form form{};
    for (int step = 0; step < STEPS; ++step) {
        for (int lane = 0; lane < WIDTH; ++lane) {
            const std::uint8_t classes = compiled.classes[step_start(step) + lane];
            form.accepted.of[step][lane] = layout::half_classes_of(classes);
            form.low.of[step][lane] = layout::range_of(classes).low;
            form.span.of[step][lane] = layout::range_of(classes).span;
            form.letters.of[step][lane] = classes == layout::LETTER_OR_SPACE ? 0xFF : 0;
            form.fields.of[step][lane] = classes == layout::FIELD_CHARACTER ? 0xFF : 0;
        }
    }
    return form;
}

constexpr line_form LINE_ONE_FORM = make_form(layout::LINE_ONE_COLUMNS);
constexpr line_form LINE_TWO_FORM = make_form(layout::LINE_TWO_COLUMNS);

// No byte from 128 up has a half class, so a look-up that gives such a
// lane 0 by either half still gives its classes.
static_assert([] {
    for (int half = 8; half < 16; ++half)
        if (layout::HIGH_HALF_TABLE.of[half] != 0) return false;
    return true;
}());

// A step of a line, with a zero lane in each column whose byte the line's
// template does not accept.  Run is always bytes: a template, so that the
// look-up form is compiled only with a layer that has lookup16.
template <typename Run>
[[gnu::always_inline]] inline bytes accepted(Run run, const line_form& form, int step) {
    if constexpr (HAS_LOOKUP) {
        const bytes classes =
            lookup16(layout::HIGH_HALF_TABLE.of, run >> 4) & lookup16(layout::LOW_HALF_TABLE.of, run);
        return classes & load(form.accepted.of[step]);
    } else {
        // All ones or all zeros in each lane.
        const bytes ranged = at_most(run - load(form.low.of[step]), load(form.span.of[step]));
        const bytes letter_or_space = at_most((run | 0x20) - 'a', splat('z' - 'a')) | holding(run, ' ');
        const bytes field = letter_or_space | at_most(run - '0', splat(9)) | holding(run, '+') |
                            holding(run, '-') | holding(run, '.');
        return ranged | (letter_or_space & load(form.letters.of[step])) |
               (field & load(form.fields.of[step]));
    }
}

// The steps a line has passed so far, kept as one vector with a zero lane
// wherever a step had one.
template <typename Run> [[gnu::always_inline]] inline Run also_accepted(Run so_far, Run step) {
    if constexpr (HAS_LOOKUP)
        return lowest(so_far, step);
    else
        return so_far & step;
}

[[gnu::always_inline]] inline bool all_accepted(bytes so_far) {
    if constexpr (HAS_LOOKUP)
        return !any(equal(so_far, bytes{}));
    else
        return !any(~so_far);
}

// What each column adds to the plain sum: a digit its value, a '-' 1
// (taking away the all-ones lane of a '-' adds one).
[[gnu::always_inline]] inline bytes adds_to_plain_sum(bytes run) {
    const bytes digit = run - '0';
    return (digit & at_most(digit, splat(9))) - holding(run, '-');
}

// The same for a byte that its column accepts, where the layer has a
// look-up: of those, only bytes 0x20 to 0x3F can add to the sum, each by
// its low four bits, so one look-up by each half gives its part.  Run is
// always bytes, as for accepted.
constexpr layout::half_table make_plain_parts(bool high) {
    layout::half_table parts{};
    for (int half = 0; half < 16; ++half) {
        if (high)
            parts.of[half] = half == 2 || half == 3 ? 0xFF : 0;
        else
            parts.of[half] = static_cast<std::uint8_t>(half <= 9 ? half : half == ('-' & 15) ? 1 : 0);
    }
    return parts;
}
constexpr layout::half_table PLAIN_PART_BY_LOW = make_plain_parts(false);
constexpr layout::half_table PLAIN_PART_BY_HIGH = make_plain_parts(true);

template <typename Run> [[gnu::always_inline]] inline Run adds_to_plain_sum_if_accepted(Run run) {
    if constexpr (HAS_LOOKUP)
        return lookup16(PLAIN_PART_BY_LOW.of, run) & lookup16(PLAIN_PART_BY_HIGH.of, run >> 4);
    else
        return adds_to_plain_sum(run);
}

// Both give the same part for every byte a line's column accepts.
static_assert([] {
    constexpr std::uint8_t LINE_CLASSES = layout::DIGIT | layout::LETTER_OR_SPACE | layout::FIELD_CHARACTER |
                                          layout::SPACE | layout::POINT | layout::ONE | layout::TWO;
    for (int byte = 0; byte < 256; ++byte) {
        if ((layout::BYTE_CLASSES.of[byte] & LINE_CLASSES) == 0) continue;
        const int exact = byte >= '0' && byte <= '9' ? byte - '0' : byte == '-' ? 1 : 0;
        if ((PLAIN_PART_BY_LOW.of[byte & 15] & PLAIN_PART_BY_HIGH.of[byte >> 4]) != exact) return false;
    }
    return true;
}());

// A line of 69 columns as the steps load it.  The class check and the
// sums share one load of each step; the written copy loads it once more.
struct line_runs {
    bytes step[STEPS];
};

[[gnu::always_inline]] inline line_runs load_runs(const char* columns) {
    line_runs runs;
#pragma GCC unroll 16
    for (int step = 0; step < STEPS; ++step) runs.step[step] = load(columns + step_start(step));
    return runs;
}

// Only the last step overlaps the one before and holds the check digit, so
// only its columns are masked for the sums.
[[gnu::always_inline]] inline bytes summed(bytes adds, int step) {
    return step + 1 < STEPS ? adds : adds & load(SUMMED.of[step]);
}

// The plain sum of columns 1 to 68.  A lane of the sum is at most 9 for
// each step, so no lane overflows.
[[gnu::always_inline]] inline int sum_of(const line_runs& runs) {
    bytes sum{};
#pragma GCC unroll 16
    for (int step = 0; step < STEPS; ++step) sum += summed(adds_to_plain_sum(runs.step[step]), step);
    return byte_sum(sum);
}

// The plain sum of columns 1 to 68 if every column holds a byte its
// template accepts, the check digit's as a digit; -1 otherwise.  Every step
// is tested, with no branch between them.
[[gnu::always_inline]] inline int plain_sum_if_accepted(const line_runs& runs, const line_form& form) {
    bytes passed = accepted(runs.step[0], form, 0);
    bytes sum = summed(adds_to_plain_sum_if_accepted(runs.step[0]), 0);
#pragma GCC unroll 16
    for (int step = 1; step < STEPS; ++step) {
        passed = also_accepted(passed, accepted(runs.step[step], form, step));
        sum += summed(adds_to_plain_sum_if_accepted(runs.step[step]), step);
    }
    return all_accepted(passed) ? byte_sum(sum) : -1;
}

int plain_sum(const char* columns) { return sum_of(load_runs(columns)); }

int plus_signs(const char* columns) {
    bytes count{};
#pragma GCC unroll 16
    for (int step = 0; step < STEPS; ++step)
        count += summed(holding(load(columns + step_start(step)), '+') & 1, step);
    return byte_sum(count);
}

// The check digit of each sum a line can have, under either rule: a table
// look-up is cheaper than a division.
constexpr int MOST_SUM = layout::SUMMED_COLUMNS * 9;
struct digit_table {
    char of[MOST_SUM + 2 * layout::SUMMED_COLUMNS + 1];
};
constexpr digit_table make_check_digits() {
    digit_table digits{};
    for (int sum = 0; sum < static_cast<int>(sizeof digits.of); ++sum)
        digits.of[sum] = static_cast<char>('0' + sum % 10);
    return digits;
}
constexpr digit_table CHECK_DIGIT = make_check_digits();

// True if column 69 is the check digit of columns 1 to 68, whose plain sum
// is plain, under either rule.  The plus rule adds 2 for each '+'; few lines
// carry one, so they are counted only when the plain rule fails.
[[gnu::always_inline]] inline bool check_digit_fits(const char* columns, int plain) {
    const char digit = columns[SET_LINE_WIDTH - 1];
    if (digit == CHECK_DIGIT.of[plain]) [[likely]]
        return true;
    // The plus rule's digit differs from the plain rule's by an even
    // amount, and the digits' characters have the digits' parity: a digit
    // of the other parity fits neither, whatever the plus signs.
    if (((digit ^ CHECK_DIGIT.of[plain]) & 1) != 0) return false;
    const int plus = plus_signs(columns);
    return plus != 0 && digit == CHECK_DIGIT.of[plain + 2 * plus];
}

// True if the 69 columns at columns, loaded as runs, are a valid line of
// the form's template.
[[gnu::always_inline]] inline bool line_passes(const line_runs& runs, const char* columns,
                                               const line_form& form) {
    const int plain = plain_sum_if_accepted(runs, form);
    return plain >= 0 && check_digit_fits(columns, plain);
}

// True if the 69 columns at one and at two are a valid line 1 and line 2.
[[gnu::always_inline]] inline bool pair_check(const char* one, const char* two) {
    return line_passes(load_runs(one), one, LINE_ONE_FORM) && line_passes(load_runs(two), two, LINE_TWO_FORM);
}

// The check as a function of its own: the engine's entry, and what the
// search calls on the layers that do not compile the check into it
// (CHECK_IN_SEARCH false).  Compiled into the search, it made the loop
// over candidate columns that crowd a long line cost an eighth more on
// aarch64, more than the call costs a set that is found.  With AVX2 the
// call costs more than that, since the search loads its constants again
// after it: compiled in, the check saves 3% of the instructions on a
// catalog and 7% on adversarial lines.
[[gnu::noinline]] bool pair_passes(const char* one, const char* two) { return pair_check(one, two); }

// Where line 1 at one and line 2 at two pass, yields what found(one's
// runs, two's runs) says; false otherwise.  The runs are loaded again for
// found, even where the check is compiled in: a search that told found
// the column alone, for the writer to load the lines, measured 2 to 3%
// more instructions on adversarial and crowded lines on s390x, where the
// check is a call.
template <typename Found>
[[gnu::always_inline]] inline bool pair_found(const char* one, const char* two, Found found) {
    if (!(CHECK_IN_SEARCH ? pair_check(one, two) : pair_passes(one, two))) return false;
    // Kept in registers from the check to the writer, the lines' vectors
    // were spilled to the stack and read back: an empty statement that may
    // change memory makes the compiler load them again instead.
    asm volatile("" ::: "memory");
    return found(load_runs(one), load_runs(two));
}

// The name line's template looks at one byte, the name's first: it must
// be text.
constexpr std::uint8_t NAME_CLASSES = layout::NAME_COLUMNS.classes[0];
static_assert(layout::NAME_COLUMNS.width == 1);

[[gnu::always_inline]] constexpr bool starts_name(char byte) {
    return (layout::BYTE_CLASSES.of[static_cast<unsigned char>(byte)] & NAME_CLASSES) != 0;
}

[[gnu::always_inline]] constexpr bool is_blank(char byte) { return byte == ' ' || byte == '\t'; }

// A UTF-8 byte-order mark is a space no one sees: files joined with cat
// carry one at the start of a line, before a name.
[[gnu::always_inline]] inline bool byte_order_mark_at(const input_line& line, int at) {
    return at + BYTE_ORDER_MARK_SIZE <= line.length && line.chars[at] == BYTE_ORDER_MARK[0] &&
           line.chars[at + 1] == BYTE_ORDER_MARK[1] && line.chars[at + 2] == BYTE_ORDER_MARK[2];
}

// The first byte from from on that is no blank and starts no byte-order
// mark, or the line's length.
[[gnu::always_inline]] inline int first_not_blank(const input_line& line, int from) {
    for (;;) {
        if (from < line.length && is_blank(line.chars[from]))
            ++from;
        else if (byte_order_mark_at(line, from))
            from += BYTE_ORDER_MARK_SIZE;
        else
            return from;
    }
}

[[gnu::always_inline]] inline bool only_blanks_before(const input_line& line, int column) {
    for (int k = 0; k < column; ++k)
        if (!is_blank(line.chars[k])) return false;
    return true;
}

// A byte that starts a name, and that neither the search of its start nor
// the test of a numbered name line looks past.
[[gnu::always_inline]] constexpr bool plain_name_start(char byte) {
    return byte > ' ' && byte <= '~' && byte != layout::LINE_ONE_TEMPLATE[0] &&
           byte != layout::LINE_TWO_TEMPLATE[0];
}

// Each such byte starts a name, and is no blank nor a byte-order mark's
// first byte: the full search would have started the name there too.
static_assert([] {
    for (int byte = 0; byte < 256; ++byte) {
        const char as_char = static_cast<char>(byte);
        if (plain_name_start(as_char) &&
            (!starts_name(as_char) || is_blank(as_char) || as_char == BYTE_ORDER_MARK[0]))
            return false;
    }
    return true;
}());

// The window's three lines by the role each plays now.  The loop moves the
// window by handing the roles on, so that no line is copied from one
// record into another.
struct window_lines {
    const input_line& name_line;
    const input_line& line_one;
    const input_line& line_two;
};

[[gnu::always_inline]] inline window_lines lines_of(const line_window& window) {
    return {window.name_line, window.line_one, window.line_two};
}

// Where the name of a set at column starts, or NO_COLUMN if the name line
// cannot name it.  Lines 1 and 2 indented by blanks alone were indented by
// whoever wrote them, and the name line by its own hand: its name starts
// at its first byte that is not a blank (nor a byte-order mark), wherever
// that stands, and is checked there; a line of blanks names the set with
// nothing.  Text before the column (a quote mark, a log's prefix) stands
// before the name line too: the name line is checked at the column.  A
// name never begins with a blank, and always with text, so that a name
// written is read back the same.
[[gnu::always_inline]] inline int start_of_name(const window_lines& window, int column) {
    const input_line& name_line = window.name_line;
    // Most names start their line, above lines 1 and 2 that start theirs,
    // with a printable byte that is no blank and no line number.
    if (column == 0 && name_line.length > 0 && plain_name_start(name_line.chars[0])) return 0;
    if (only_blanks_before(window.line_one, column) && only_blanks_before(window.line_two, column)) {
        const int start = first_not_blank(name_line, 0);
        return start == name_line.length || starts_name(name_line.chars[start]) ? start : NO_COLUMN;
    }
    if (column >= name_line.length || !starts_name(name_line.chars[column])) return NO_COLUMN;
    const int start = first_not_blank(name_line, column);
    return start == name_line.length || starts_name(name_line.chars[start]) ? start : NO_COLUMN;
}

int name_start(const line_window& window, int column) { return start_of_name(lines_of(window), column); }

// The columns of a step at which a line holds every exact character of its
// template.
// A line holds them where no column differs from its character.
[[gnu::always_inline]] inline bytes differs_from_exact(const char* from, const layout::exact_columns& exact) {
    bytes differs{};
#pragma GCC unroll 80
    for (int k = 0; k < exact.count; ++k) differs |= load(from + exact.of[k].column) ^ exact.of[k].byte;
    return differs;
}

constexpr int last_exact_column(const layout::exact_columns& exact) {
    int last = 0;
    for (int k = 0; k < exact.count; ++k) last = exact.of[k].column > last ? exact.of[k].column : last;
    return last;
}

// How far past a step's first column the test of exact columns reads.
constexpr int EXACT_REACH =
    WIDTH + (last_exact_column(layout::LINE_ONE_EXACT) > last_exact_column(layout::LINE_TWO_EXACT)
                 ? last_exact_column(layout::LINE_ONE_EXACT)
                 : last_exact_column(layout::LINE_TWO_EXACT));

// A candidate's column is at most LINE_CAPACITY - SET_LINE_WIDTH, so the
// quick test's loads (a vector and one byte on from a multiple of WIDTH,
// or two vectors from a line's start), and the test of exact columns from
// the last vector of candidates, stay within a line's storage.
static_assert((LINE_CAPACITY - SET_LINE_WIDTH) / WIDTH * WIDTH + WIDTH + 1 <= LINE_CAPACITY &&
              2 * WIDTH <= LINE_CAPACITY);
static_assert((LINE_CAPACITY - SET_LINE_WIDTH) / WIDTH * WIDTH + EXACT_REACH <= LINE_CAPACITY);

// The leftmost column from 0 to last at which first holds '1' and second
// '2', each before a space (the quick test), and passes(column) holds.  The
// quick test takes a vector of columns at a time; the candidates it leaves
// are tried from the lowest.  A load may reach past a line's length, never
// past its storage.
template <typename Check>
[[gnu::always_inline]] inline int leftmost_column(const input_line& first, const input_line& second, int last,
                                                  Check passes) {
    // The columns of the vector at one and two whose quick test passes,
    // with the bytes one on loaded as one_on and two_on.  Columns past last
    // are left in: they come after every column the vector has up to last,
    // and the loop over candidates stops there.
    const auto quick =
        [](const char* one, const char* two, bytes one_on, bytes two_on) __attribute__((always_inline)) {
        const bytes differs = (load(one) ^ '1') | (load(two) ^ '2') | (one_on ^ ' ') | (two_on ^ ' ');
        return lanes_set(equal(differs, bytes{}));
    };
    // Where candidates crowd (text built of "1 " over "2 ", say), every
    // column with an exact character is tested too, for a whole vector of
    // candidates at a time, so that few are left to the full check.
    const auto narrowed =
        [](const char* one, const char* two, lane_bits candidates) __attribute__((always_inline)) {
        if (several(candidates))
            candidates &= lanes_set(equal(differs_from_exact(one, layout::LINE_ONE_EXACT) |
                                              differs_from_exact(two, layout::LINE_TWO_EXACT),
                                          bytes{}));
        return candidates;
    };
    if (last < 0) return NO_COLUMN;
    lane_bits candidates;
    if (last == 0) {
        // Lines of a set's length, the most common, have one column to
        // try: it is tested a byte at a time.
        candidates =
            first.chars[0] == '1' && first.chars[1] == ' ' && second.chars[0] == '2' && second.chars[1] == ' '
                ? first_lanes(1)
                : 0;
    } else {
        // In the first vector of a line, just stored by the reader, a load
        // that straddles two of its stores would wait for both to reach the
        // cache: the bytes one on come from the vectors at the columns and
        // after them.
        const char* one = first.chars;
        const char* two = second.chars;
        candidates = narrowed(one, two,
                              quick(one, two, one_lane_on(load(one), load(one + WIDTH)),
                                    one_lane_on(load(two), load(two + WIDTH))));
    }
    for (int from = 0;;) {
        for (; candidates != 0; candidates = without_first(candidates)) {
            const int column = from + first_lane(candidates);
            if (column > last) return NO_COLUMN;
            if (passes(column)) return column;
        }
        // Vectors without a candidate, the most of a long line, are passed
        // over in a loop of their own.
        do {
            from += WIDTH;
            if (from > last) return NO_COLUMN;
            const char* one = first.chars + from;
            const char* two = second.chars + from;
            candidates = quick(one, two, load(one + 1), load(two + 1));
        } while (candidates == 0);
        candidates = narrowed(first.chars + from, second.chars + from, candidates);
    }
}

// The reader: each line is copied a vector at a time from the block into
// its slot of the window, and its end found in the same vectors.

[[gnu::always_inline]] inline bool is_line_end(char byte) { return byte == '\n' || byte == '\r'; }

// A look-up by the low four bits gives LF and CR where they stand, and
// elsewhere a byte with other low bits, which no lane can equal.
constexpr layout::half_table make_line_end_table() {
    layout::half_table table{};
    for (int half = 0; half < 16; ++half)
        table.of[half] = static_cast<std::uint8_t>(half == '\n' || half == '\r' ? half : half ^ 1);
    return table;
}
constexpr layout::half_table LINE_END_BY_LOW = make_line_end_table();

// The lanes of run that hold a line end, right up to the first of them:
// the reader needs no more.  Run is always bytes, as for accepted.
template <typename Run> [[gnu::always_inline]] inline lane_bits line_ends_in(Run run) {
    if constexpr (HAS_LOOKUP)
        return lanes_set(equal(run, lookup16(LINE_END_BY_LOW.of, run)));
    else
        return lanes_from_first_holding(run, '\n', '\r');
}

// How many vectors hold a line of a set and a CR-LF.
constexpr int FRESH_STEPS = (SET_LINE_WIDTH + 2 + WIDTH - 1) / WIDTH;
static_assert(FRESH_STEPS * WIDTH <= LINE_CAPACITY - WIDTH);

// Where the reader's scan stops, at the line end at next: the line is
// whole, or, at the block's own line end, goes on in the next block.
[[gnu::always_inline]] inline bool ended_line(input_line& line, input_blocks& input, int length, int next) {
    line.length = length;
    const bool whole = next < input.held;
    input.next = whole ? next + 1 : next;
    return whole;
}

// Takes the line from the input's next byte into line, after the length
// bytes it holds already; false, with line.length set, where the block
// ends before the line does.
[[gnu::always_inline]] inline bool take_line(input_line& line, input_blocks& input, int length) {
    const char* const block = input.block;
    int next = input.next;
    // A vector of the block at a time, up to the first line end, tested in
    // the vectors the copy loads anyway: the block ends with a line end of
    // the reader's own, so the scan never runs past it.
    bytes run = load(block + next);
    lane_bits ends = line_ends_in(run);
    // Line ends before the line are skipped: the LF of a CR-LF whose CR
    // ended the line before, and every empty line.
    if (length == 0 && (ends & first_lanes(1)) != 0) {
        do ++next;
        while (is_line_end(block[next]));
        if (next >= input.held) {
            input.next = input.held;
            line.length = 0;
            return false;
        }
        run = load(block + next);
        ends = line_ends_in(run);
    }
    // Whole vectors are stored while they fit in the line; what they hold
    // past the line's end lies beyond its length.
    const char* from = block + next;
    char* to = line.chars + length;
    // A fresh line's first vectors, enough for a line of a set and its
    // CR-LF, are taken at offsets fixed when the reader is compiled.
    if (length == 0) {
#pragma GCC unroll 16
        for (int step = 0; step < FRESH_STEPS; ++step) {
            store(to + step * WIDTH, run);
            if (ends != 0) {
                const int taken = step * WIDTH + first_lane(ends);
                return ended_line(line, input, taken, static_cast<int>(from - block) + taken);
            }
            run = load(from + (step + 1) * WIDTH);
            ends = line_ends_in(run);
        }
        from += FRESH_STEPS * WIDTH;
        to += FRESH_STEPS * WIDTH;
    }
    // Past them, two vectors at a time while both fit, with one test for a
    // line end in either.
    for (char* const last_two = line.chars + (LINE_CAPACITY - 2 * WIDTH); to <= last_two;) {
        const bytes second = load(from + WIDTH);
        const lane_bits second_ends = line_ends_in(second);
        store(to, run);
        store(to + WIDTH, second);
        if ((ends | second_ends) != 0) {
            const int taken = ends != 0 ? first_lane(ends) : WIDTH + first_lane(second_ends);
            return ended_line(line, input, static_cast<int>(to - line.chars) + taken,
                              static_cast<int>(from - block) + taken);
        }
        from += 2 * WIDTH;
        to += 2 * WIDTH;
        run = load(from);
        ends = line_ends_in(run);
    }
    for (char* const last_store = line.chars + (LINE_CAPACITY - WIDTH); to <= last_store;) {
        store(to, run);
        if (ends != 0) {
            const int taken = first_lane(ends);
            return ended_line(line, input, static_cast<int>(to - line.chars) + taken,
                              static_cast<int>(from - block) + taken);
        }
        from += WIDTH;
        to += WIDTH;
        run = load(from);
        ends = line_ends_in(run);
    }
    // Near the capacity a byte at a time; bytes past it are read and
    // dropped up to the line end.
    length = static_cast<int>(to - line.chars);
    for (next = static_cast<int>(from - block); !is_line_end(block[next]); ++next)
        if (length < LINE_CAPACITY) line.chars[length++] = block[next];
    return ended_line(line, input, length, next);
}

// A fresh line, whose length is known to be 0 until it is taken; a line
// that the block ends goes on in the blocks that follow.  (Taking that
// part in a function of its own cost aarch64 more than it saved x86-64.)
[[gnu::always_inline]] inline int read_line_here(input_line& line, input_blocks& input) {
    if (take_line(line, input, 0)) [[likely]]
        return line.length;
    while (take_block(input)) {
        if (take_line(line, input, line.length)) break;
    }
    return line.length;
}

int read_input_line(input_line& line, input_blocks& input) { return read_line_here(line, input); }

// The name ends at a NUL or a tab, and where three spaces meet: names in
// catalogs are padded with spaces to a fixed width, but a pair of spaces
// may stand inside one ("GPS BIIR-2  (PRN 13)").  Two spaces at the very
// end are padding too; one is kept.  Copies the name from name, of
// available bytes at most, to to in whole vectors, and returns its length.
// Three spaces meet only within the available bytes.
[[gnu::always_inline]] inline int put_name(char* to, const char* name, int available) {
    int length = available;
    for (int first = 0; first < available; first += WIDTH) {
        const bytes run = load(name + first);
        store(to + first, run);
        const int left = available - first;
        const lane_bits stops = lanes_set(holding(run, 0) | holding(run, '\t')) & first_lanes(left);
        // The bytes one and two on are loaded there: taking them from this
        // vector and the next cost more shuffles than the loads, and was no
        // faster, since the name line was stored lines before.
        const bytes spaces = holding(run, ' ') & holding(load(name + first + 1), ' ');
        const lane_bits triples =
            lanes_set(spaces & holding(load(name + first + 2), ' ')) & first_lanes(left < 2 ? 0 : left - 2);
        if (const lane_bits ends = stops | triples; ends != 0) {
            // A triple is no space of the name's own; a stop may follow two.
            const int end = first + first_lane(ends);
            if ((triples & ~stops & (ends & -ends)) != 0) return end;
            length = end;
            break;
        }
    }
    if (length >= 2 && name[length - 1] == ' ' && name[length - 2] == ' ') length -= 2;
    return length;
}

// How far the name's loads reach past its first byte, and its stores.
constexpr int NAME_REACH = STEPS * WIDTH + 2;
static_assert(STEPS * WIDTH <= MOST_SET_BYTES, "the name's stores stay within the room for a set");

// Stores the 69 columns of runs at to, every '+' a space, and tells
// whether there was one.
[[gnu::always_inline]] inline bool store_replacing_plus(char* to, const line_runs& runs) {
    // Few lines hold a '+': the steps are stored as they are, and stored
    // again with spaces where one does.
    bytes plus_anywhere{};
#pragma GCC unroll 16
    for (int step = 0; step < STEPS; ++step) {
        plus_anywhere |= holding(runs.step[step], '+');
        store(to + step_start(step), runs.step[step]);
    }
    if (!any(plus_anywhere)) [[likely]]
        return false;
#pragma GCC unroll 16
    for (int step = 0; step < STEPS; ++step)
        store(to + step_start(step), runs.step[step] - (holding(runs.step[step], '+') & ('+' - ' ')));
    return true;
}

// Every step is loaded before any is stored, so the copy may be made in
// place.
bool copy_replacing_plus(char* to, const char* from) { return store_replacing_plus(to, load_runs(from)); }

// Puts line 1 or line 2 from its runs, and its LF.  The set passed its
// check, so a line without a '+' has the plain check digit already: both
// rules give the same digit there.  Only a line with one has its digit
// rewritten; a '+' adds nothing to the plain sum, so the sum of the line as
// read is the sum as written.
[[gnu::always_inline]] inline int put_set_line(char* to, const line_runs& runs) {
    if (store_replacing_plus(to, runs)) to[layout::SUMMED_COLUMNS] = CHECK_DIGIT.of[sum_of(runs)];
    to[SET_LINE_WIDTH] = '\n';
    return SET_LINE_WIDTH + 1;
}

// Puts the name line: the name from name_start, or nothing when name_line
// is null, and its LF.
[[gnu::always_inline]] inline int put_name_line(char* to, const input_line* name_line, int name_start) {
    int length = 0;
    if (name_line != nullptr) {
        const char* name = name_line->chars + name_start;
        const int available = smaller(SET_LINE_WIDTH, name_line->length - name_start);
        // Near the end of the line's storage the loads would reach past it:
        // there they read a copy.
        char staged[NAME_REACH];
        if (name_start + NAME_REACH > LINE_CAPACITY) {
            __builtin_memset(staged, 0, sizeof staged);
            __builtin_memcpy(staged, name, static_cast<std::size_t>(available));
            name = staged;
        }
        length = put_name(to, name, available);
    }
    to[length++] = '\n';
    return length;
}

[[gnu::always_inline]] inline int put_runs(char* to, const input_line* name_line, int name_start,
                                           const line_runs& one, const line_runs& two) {
    int length = put_name_line(to, name_line, name_start);
    length += put_set_line(to + length, one);
    length += put_set_line(to + length, two);
    return length;
}

int put_set(char* to, const input_line* name_line, int name_start, const input_line& one,
            const input_line& two, int column) {
    return put_runs(to, name_line, name_start, load_runs(one.chars + column), load_runs(two.chars + column));
}

// Puts a set found in the output's block, unless a write has failed.
[[gnu::always_inline]] inline void put_found(output_blocks& output, const input_line* name_line,
                                             int name_start, const line_runs& one, const line_runs& two) {
    if (char* room = room_for_set(output); room != nullptr)
        commit_set(output, put_runs(room, name_line, name_start, one, two));
}

// The line a set found is named from: none where its name begins like line
// 1 or line 2.  Only a name that begins with a line number and a space can.
[[gnu::always_inline]] inline const input_line* naming_line(const input_line& name_line, int name_start) {
    const char* name = name_line.chars + name_start;
    const bool numbered =
        name_line.length - name_start > 1 &&
        (name[0] == layout::LINE_ONE_TEMPLATE[0] || name[0] == layout::LINE_TWO_TEMPLATE[0]) &&
        name[1] == ' ';
    return numbered && names_nothing(name_line, name_start) ? nullptr : &name_line;
}

// The search of one window: the leftmost column of a set, and the pair the
// next window's bare-pair test needs (see search_window in kepsift.h).
// found(name_start, one, two) is told of the set, with its lines as loaded.
template <typename Found>
[[gnu::always_inline]] inline window_search search(const window_lines& window, Found found) {
    // Every pair is tried twice as the window slides: as line_one and
    // line_two with a name, then as name_line and line_one, bare.  The
    // search tries each candidate's pair first, whatever the name line
    // holds, so that a search that finds no set has found the pair for the
    // next window too.
    // The search's lambdas, here and in its callers, are compiled into the
    // loop: left to itself, GCC made the writer of a found set a function
    // of its own once the reader grew, and passed it the set's vectors
    // through memory.
    const int last_pair = smaller(window.line_one.length, window.line_two.length) - SET_LINE_WIDTH;
    window_search result{NO_COLUMN, NO_COLUMN};
    result.set_column = leftmost_column(
        window.line_one, window.line_two, last_pair, [&](int column) __attribute__((always_inline)) {
            const auto named = [&](const line_runs& one, const line_runs& two)
                __attribute__((always_inline)) {
                if (result.pair_column == NO_COLUMN) result.pair_column = column;
                const int start = start_of_name(window, column);
                if (start == NO_COLUMN) return false;
                found(start, one, two);
                return true;
            };
            return pair_found(window.line_one.chars + column, window.line_two.chars + column, named);
        });
    return result;
}

window_search search_window(const line_window& window) {
    return search(lines_of(window), [](int, const line_runs&, const line_runs&) {});
}

// The search of the loop, which puts the set it finds in the output.
[[gnu::always_inline]] inline window_search search_and_put(const window_lines& window,
                                                           output_blocks& output) {
    return search(
        window, [&](int start, const line_runs& one, const line_runs& two) __attribute__((always_inline)) {
            put_found(output, naming_line(window.name_line, start), start, one, two);
        });
}

// The leftmost column at which name_line and line_one hold a bare pair;
// found(one, two) is told of it.
template <typename Found>
[[gnu::always_inline]] inline int bare_pair(const window_lines& window, Found found) {
    const int last = smaller(window.name_line.length, window.line_one.length) - SET_LINE_WIDTH;
    return leftmost_column(
        window.name_line, window.line_one, last, [&](int column) __attribute__((always_inline)) {
            return pair_found(
                window.name_line.chars + column, window.line_one.chars + column,
                [&](const line_runs& one, const line_runs& two) __attribute__((always_inline)) {
                    found(one, two);
                    return true;
                });
        });
}

int find_bare_pair(const line_window& window) {
    return bare_pair(lines_of(window), [](const line_runs&, const line_runs&) {});
}

// Puts the bare pair of name_line and line_one, at known_column where the
// search before the window slid found it, or where it is found now; yields
// its column or NO_COLUMN.
[[gnu::always_inline]] inline int put_bare_pair(const window_lines& window, int known_column,
                                                output_blocks& output) {
    const auto put = [&](const line_runs& one, const line_runs& two) __attribute__((always_inline)) {
        put_found(output, nullptr, 0, one, two);
    };
    if (known_column < NO_COLUMN) return bare_pair(window, put);
    if (known_column != NO_COLUMN)
        put(load_runs(window.name_line.chars + known_column),
            load_runs(window.line_one.chars + known_column));
    return known_column;
}

#include "run_loop.h"

} // namespace

extern const engine ENGINE{
    NAME,      read_input_line, search_window,       find_bare_pair, pair_passes, name_start,
    plain_sum, plus_signs,      copy_replacing_plus, put_set,        sift,
};
