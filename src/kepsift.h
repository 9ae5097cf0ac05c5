// SPDX-License-Identifier: ISC
// kepsift: pick orbital element sets out of any text.
//
// The records and constants shared by the run-control-and-input unit
// (kepsift.cpp) and the element-set unit (element_set.cpp).

#ifndef KEPSIFT_H
#define KEPSIFT_H

#include <cstdint>
#include <cstdio>

// The fast paths scan sixteen bytes at a time with SSE2, the x86-64
// baseline; they take bytes from the streams' buffers through
// stream_buffer.h.  A build with KEPSIFT_PORTABLE uses neither, as on any
// other system, and writes the same bytes.
#if defined(__SSE2__) && !defined(KEPSIFT_PORTABLE)
#define KEPSIFT_SSE2 1
#endif
// Where the processor has AVX2, found when the program starts, the layout
// check and the check-digit sums take 32 columns at a time instead; a
// build with KEPSIFT_NO_AVX2 keeps to SSE2, so that its tests cover that
// path on any machine.
#if defined(KEPSIFT_SSE2) && defined(__x86_64__) && defined(__GNUC__) && !defined(KEPSIFT_NO_AVX2)
#define KEPSIFT_AVX2 1
// Asked once, when the program starts.
inline const bool HAS_AVX2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

// The longest input line kept; bytes beyond it are dropped up to the line end.
inline constexpr int LINE_CAPACITY = 1024;

// Columns of line 1 and line 2, the last one being the check digit; also the
// most bytes of a name that are written.
inline constexpr int SET_LINE_WIDTH = 69;

// Buffer size of the input and output streams.
inline constexpr int STREAM_BUFFER_SIZE = 8192;

// What find_set and find_bare_pair yield when the window holds no set.
inline constexpr int NO_COLUMN = -1;

// One non-empty input line, as read: no line end, no terminator.
struct input_line {
    int length;
    char chars[LINE_CAPACITY];
};

// Three consecutive non-empty input lines, named by the role each plays
// when they hold an element set.
struct line_window {
    input_line name_line;
    input_line line_one;
    input_line line_two;
};

// Run control and input.

// Reads the next non-empty line of the stream into line and returns its
// length; 0 means end of input or a read error, told apart by ferror().
int read_line(input_line& line, FILE* stream);

// What one pass over the input found, and the system's error numbers of
// the read and the write that failed, if one did (0 otherwise).
struct sift_result {
    std::int64_t sets_found;
    int read_error;
    int write_error;
};

// Filters input to output.  Reading stops at the end of input or at the
// first read error; after the first write error nothing more is written,
// but every set found is counted.  The streams are neither buffered nor
// closed here.
sift_result sift(FILE* input, FILE* output);

// Buffers both streams, sifts, writes the count report when the input was a
// named file, then checks and closes both streams.  Returns the exit status.
int run(FILE* input, FILE* output, bool input_is_named);

// The whole program: command line, opening, run.  Returns the exit status.
int kepsift_main(int argc, char* argv[]);

// Element sets.

// The leftmost column at which the window holds a name line, line 1 and
// line 2 of a valid set, or NO_COLUMN.
int find_set(const line_window& window);

// What one search of a window found: the leftmost column of a set, and,
// when there is none, the leftmost column at which line_one and line_two
// hold a line 1 and a line 2 whatever the name line holds, or NO_COLUMN.
// After the window slides by one line, that second column is what
// find_bare_pair would find in name_line and line_one.
struct window_search {
    int set_column;
    int pair_column;
};
window_search search_window(const line_window& window);

// True if name_line, line_one and line_two pass their templates at column.
bool check_set_at(const line_window& window, int column);

// The leftmost column at which name_line and line_one hold line 1 and line 2
// of a valid set without a name line, or NO_COLUMN.
int find_bare_pair(const line_window& window);

// True if line passes template at column: one class code per column, ended
// by 'E'.  The caller guarantees the line holds every column the template
// names.
bool line_passes(const input_line& line, int column, const char* line_template);

// True if digit is the check digit of the 69-column line starting at
// column under either summing rule.
bool checksum_matches(const input_line& line, int column, char digit);

// Rewrites a 69-column copy of line 1 or line 2: plus signs become spaces
// and the check digit is recomputed by the plain rule.
void normalise_set_line(char* copy);

// Writes the set found by find_set at column, in normalised form.
void write_set(const line_window& window, int column, FILE* output);

// Writes the pair found by find_bare_pair at column, with an empty name.
void write_bare_pair(const line_window& window, int column, FILE* output);

#endif
