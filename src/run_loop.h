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

// The window's records by the role each plays now.  Moving the window hands
// the roles on: the oldest record takes the next line read, and no line is
// copied.
struct window_roles {
    input_line* name_line;
    input_line* line_one;
    input_line* line_two;

    [[gnu::always_inline]] window_lines lines() const { return {*name_line, *line_one, *line_two}; }

    // The oldest line leaves the window; its record is line_two's next.
    [[gnu::always_inline]] void slide() {
        input_line* const oldest = name_line;
        name_line = line_one;
        line_one = line_two;
        line_two = oldest;
    }
};

// Reads lines into the window from first_slot on, stopping at the first
// slot that gets no line.  Returns how many slots now hold a line.
[[gnu::always_inline]] inline int fill_window_from(const window_roles& window, int first_slot,
                                                   input_blocks& input) {
    switch (first_slot) {
    case 0:
        if (read_line_here(*window.name_line, input) == 0) return 0;
        [[fallthrough]];
    case 1:
        if (read_line_here(*window.line_one, input) == 0) return 1;
        [[fallthrough]];
    default: return read_line_here(*window.line_two, input) == 0 ? 2 : WINDOW_LINES;
    }
}

sift_result sift(line_window& records, input_blocks& input, output_blocks& output) {
    sift_result result{0, 0, 0, NAME};
    window_roles window{&records.name_line, &records.line_one, &records.line_two};
    // The pair in name_line and line_one, when the search before the last
    // slide found it.
    constexpr int PAIR_UNKNOWN = NO_COLUMN - 1;
    int known_pair = PAIR_UNKNOWN;
    // Writes the bare pair in name_line and line_one, if they hold one.
    const auto take_bare_pair = [&]() __attribute__((always_inline)) {
        const int column = put_bare_pair(window.lines(), known_pair, output);
        known_pair = PAIR_UNKNOWN;
        if (column == NO_COLUMN) return false;
        ++result.sets_found;
        return true;
    };
    int lines_held = fill_window_from(window, 0, input);
    while (lines_held == WINDOW_LINES) {
        if (const window_search found = search_and_put(window.lines(), output);
            found.set_column != NO_COLUMN) {
            ++result.sets_found;
            known_pair = PAIR_UNKNOWN;
            // The lines of a written set never take part in another set.
            lines_held = fill_window_from(window, 0, input);
        } else if (take_bare_pair()) {
            // line_two stays, as the next name line.
            window.slide();
            window.slide();
            lines_held = fill_window_from(window, 1, input);
        } else {
            window.slide();
            known_pair = found.pair_column;
            lines_held = fill_window_from(window, 2, input);
        }
    }
    // A file of bare pairs ends with its last pair alone in the window.
    if (lines_held == 2) take_bare_pair();
    return result;
}
