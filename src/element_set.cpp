// SPDX-License-Identifier: ISC
// Element sets: the search for a set in a window of three lines, the checks
// of its lines, and the writer of its normalised form.  The templates, the
// classes and the forms the engines check with are data, in layout.h; the
// work on every byte is the engine's (engine.h).

#include <cstdio>
#include <cstdlib>

#include "engine.h"
#include "kepsift.h"
#include "layout.h"

namespace {

[[noreturn]] void template_fault() {
    std::fputs("Fatal error: bad case.\n", stderr);
    std::fflush(nullptr);
    std::exit(EXIT_FAILURE);
}

// The interpreter of compiled templates: true if the first count columns
// at bytes hold what the template wants there, a column at a time, each a
// table look-up and a test.  A code that is not one fails every byte, and
// only then is it found out.
bool columns_pass(const char* bytes, const layout::compiled_template& compiled, int count) {
    for (int k = 0; k < count; ++k) {
        const std::uint8_t wanted = compiled.classes[k];
        if ((layout::BYTE_CLASSES.of[static_cast<unsigned char>(bytes[k])] & wanted) == 0) {
            if (wanted == 0) template_fault();
            return false;
        }
    }
    return true;
}

// A check digit is always a template's last column, so the sums are taken
// only once every other column has passed.
bool template_passes(const input_line& line, int column, const layout::compiled_template& compiled) {
    const char* bytes = line.chars + column;
    return columns_pass(bytes, compiled, compiled.width) &&
           (!compiled.ends_with_check_digit || checksum_matches(line, column, bytes[compiled.width - 1]));
}

// The first columns of line 1 and line 2: a line number, a space and a
// catalogue number.
constexpr int SET_LINE_START = 7;

void write_lines(const input_line* name_line, int name_start, const input_line& one, const input_line& two,
                 int column, output_blocks& output) {
    if (char* room = room_for_set(output); room != nullptr)
        commit_set(output, current_engine().put_set(room, name_line, name_start, one, two, column));
}

} // namespace

// A name that begins like line 1 or line 2 is what is left of a broken
// pair, not a name: in a file of bare pairs whose one line was lost, the
// line before the next pair would otherwise name it after another
// satellite's data.
bool names_nothing(const input_line& name_line, int name_start) {
    if (name_line.length - name_start < SET_LINE_START) return false;
    const char* name = name_line.chars + name_start;
    return columns_pass(name, layout::LINE_ONE_COLUMNS, SET_LINE_START) ||
           columns_pass(name, layout::LINE_TWO_COLUMNS, SET_LINE_START);
}

bool line_passes(const input_line& line, int column, const char* line_template) {
    return template_passes(line, column, layout::compile_template(line_template));
}

bool checksum_matches(const input_line& line, int column, char digit) {
    const char* columns = line.chars + column;
    const int value = digit - '0';
    const int plain = current_engine().plain_sum(columns);
    return value == plain % 10 || value == (plain + 2 * current_engine().plus_signs(columns)) % 10;
}

bool check_set_at(const line_window& window, int column) {
    return current_engine().name_start(window, column) != NO_COLUMN &&
           current_engine().pair_passes(window.line_one.chars + column, window.line_two.chars + column);
}

int find_set(const line_window& window) { return current_engine().search_window(window).set_column; }

window_search search_window(const line_window& window) { return current_engine().search_window(window); }

int find_bare_pair(const line_window& window) { return current_engine().find_bare_pair(window); }

void normalise_set_line(char* copy) {
    // A '+' adds nothing to the plain sum, so the sum of the line as read is
    // the sum as written.
    const int plain = current_engine().plain_sum(copy);
    current_engine().copy_replacing_plus(copy, copy);
    copy[layout::SUMMED_COLUMNS] = static_cast<char>('0' + plain % 10);
}

void write_set(const line_window& window, int column, output_blocks& output) {
    const int name_start = current_engine().name_start(window, column);
    const bool named = name_start != NO_COLUMN && !names_nothing(window.name_line, name_start);
    const input_line* name_line = named ? &window.name_line : nullptr;
    write_lines(name_line, name_start, window.line_one, window.line_two, column, output);
}

void write_bare_pair(const line_window& window, int column, output_blocks& output) {
    write_lines(nullptr, 0, window.name_line, window.line_one, column, output);
}
