// SPDX-License-Identifier: ISC
// The run control's one loop: a window of three lines moved through the
// input, a set written wherever one is found.  It is written once, here,
// and compiled into each engine, after the engine's body, so that the
// reader, the search and the writer it calls are compiled into it and the
// engine is chosen once per run, not once per line.

#ifndef KEPSIFT_ENGINE_H
#error "the engine's body comes before the run loop"
#endif

constexpr int WINDOW_LINES = 3;

// A line of a set's length or less is copied in whole vectors; a longer
// one by the C library, which copies long runs best.
[[gnu::always_inline]] inline void copy_line(input_line& to, const input_line& from) {
    to.length = from.length;
    if (from.length <= STEPS * WIDTH) {
#pragma GCC unroll 16
        for (int step = 0; step < STEPS; ++step)
            store(to.chars + step * WIDTH, load(from.chars + step * WIDTH));
    } else {
        __builtin_memcpy(to.chars, from.chars, static_cast<std::size_t>(from.length));
    }
}

// Reads lines into the window from first_slot on, stopping at the first
// slot that gets no line.  Returns how many slots now hold a line.
[[gnu::always_inline]] inline int fill_window_from(line_window& window, int first_slot, input_blocks& input) {
    switch (first_slot) {
    case 0:
        if (read_line_here(window.name_line, input) == 0) return 0;
        [[fallthrough]];
    case 1:
        if (read_line_here(window.line_one, input) == 0) return 1;
        [[fallthrough]];
    default: return read_line_here(window.line_two, input) == 0 ? 2 : WINDOW_LINES;
    }
}

// The oldest line leaves the window; line_two is left empty for the next read.
[[gnu::always_inline]] inline void slide_window(line_window& window) {
    copy_line(window.name_line, window.line_one);
    copy_line(window.line_one, window.line_two);
    window.line_two.length = 0;
}

sift_result sift(line_window& window, input_blocks& input, output_blocks& output) {
    sift_result result{0, 0, 0, NAME};
    // The pair in name_line and line_one, when the search before the last
    // slide found it.
    constexpr int PAIR_UNKNOWN = NO_COLUMN - 1;
    int known_pair = PAIR_UNKNOWN;
    // Writes the bare pair in name_line and line_one, if they hold one.
    const auto take_bare_pair = [&]() __attribute__((always_inline)) {
        const int column = put_bare_pair(window, known_pair, output);
        known_pair = PAIR_UNKNOWN;
        if (column == NO_COLUMN) return false;
        ++result.sets_found;
        return true;
    };
    int lines_held = fill_window_from(window, 0, input);
    while (lines_held == WINDOW_LINES) {
        if (const window_search found = search_and_put(window, output); found.set_column != NO_COLUMN) {
            ++result.sets_found;
            known_pair = PAIR_UNKNOWN;
            // The lines of a written set never take part in another set.
            lines_held = fill_window_from(window, 0, input);
        } else if (take_bare_pair()) {
            copy_line(window.name_line, window.line_two);
            lines_held = fill_window_from(window, 1, input);
        } else {
            slide_window(window);
            known_pair = found.pair_column;
            lines_held = fill_window_from(window, 2, input);
        }
    }
    // A file of bare pairs ends with its last pair alone in the window.
    if (lines_held == 2) take_bare_pair();
    return result;
}
