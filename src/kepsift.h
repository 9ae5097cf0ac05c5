// SPDX-License-Identifier: ISC
// kepsift: pick orbital element sets out of any text.
//
// The records and constants shared by the run-control-and-input unit
// (kepsift.cpp) and the element-set unit (element_set.cpp).

#ifndef KEPSIFT_H
#define KEPSIFT_H

#include <cstdint>
#include <cstdio>

// The longest input line kept; bytes beyond it are dropped up to the line end.
inline constexpr int LINE_CAPACITY = 1024;

// Columns of line 1 and line 2, the last one being the check digit; also the
// most bytes of a name that are written.
inline constexpr int SET_LINE_WIDTH = 69;

// Buffer size of the input and output streams.
inline constexpr int STREAM_BUFFER_SIZE = 8192;

// The UTF-8 byte-order mark, which some editors write before a file's text.
inline constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
inline constexpr int BYTE_ORDER_MARK_SIZE = sizeof BYTE_ORDER_MARK - 1;

// What find_set and find_bare_pair yield when the window holds no set.
inline constexpr int NO_COLUMN = -1;

// One non-empty input line, as read: no line end, no terminator.  The
// characters start a cache line, so that the vectors the reader stores
// and the search loads from a line's start never straddle two.
struct input_line {
    int length;
    alignas(64) char chars[LINE_CAPACITY];
};

// Three consecutive non-empty input lines, named by the role each plays
// when they hold an element set.
struct line_window {
    input_line name_line;
    input_line line_one;
    input_line line_two;
};

// The most bytes one written set takes: three lines of at most 69 bytes,
// each with its LF.
inline constexpr int MOST_SET_BYTES = 3 * (SET_LINE_WIDTH + 1);

// How far past the bytes it holds a block of input may be read: the reader
// loads two vectors at a time, the second after the one that may hold the
// block's last byte.
inline constexpr int READ_SLACK = 128;

// How many of the latest set ends the output remembers: enough for every
// set that ends in the last two blocks, where a failed write can leave the
// end of what reached the file.
inline constexpr int RECENT_SET_ENDS = 128;
static_assert(RECENT_SET_ENDS * 2 * (SET_LINE_WIDTH + 1) > 2 * STREAM_BUFFER_SIZE + MOST_SET_BYTES,
              "a set is at least two lines of 69 columns");

// Run control and input.

// The input stream, taken in whole blocks of STREAM_BUFFER_SIZE bytes into
// storage of the program's own.
struct input_blocks {
    FILE* stream;
    // The first byte of the block not taken yet, and how many it holds.
    // After them the block holds a line end of the reader's own, so that
    // its scan for the end of a line stops there at the latest, and then a
    // byte that is no line end.
    int next;
    int held;
    // The system's error number of the read that failed, or 0.
    int error;
    // Whether the block holds the input's first bytes.
    bool at_start;
    alignas(64) char block[STREAM_BUFFER_SIZE + READ_SLACK];
};

// Starts reading stream from its first byte.
void begin_input(input_blocks& input, FILE* stream);

// Reads the next non-empty line of the input into line and returns its
// length; 0 means end of input or a read error, told apart by input.error.
// After either, no further line comes and the stream is not read again.
int read_line(input_line& line, input_blocks& input);

// Takes the next block of the stream into the input's storage; false at
// the end of input or after a read error.
bool take_block(input_blocks& input);

// The output stream, given whole blocks of STREAM_BUFFER_SIZE bytes from
// storage of the program's own; the last block goes when the output ends.
struct output_blocks {
    FILE* stream;
    // The bytes the block holds, and the bytes handed to the stream before
    // them.
    int held;
    std::int64_t handed;
    // The system's error number of the write that failed, or 0.  After a
    // failed write the stream has dropped what its buffer held, so anything
    // written later would leave a hole: nothing more is written.
    int error;
    // Where the latest sets end in the output, as a ring, and how many
    // sets were put.
    std::int64_t set_ends[RECENT_SET_ENDS];
    std::int64_t sets_put;
    alignas(64) char block[STREAM_BUFFER_SIZE + MOST_SET_BYTES];
};

void begin_output(output_blocks& output, FILE* stream);

// Where the next set goes: room for MOST_SET_BYTES bytes, or null once a
// write has failed.
[[gnu::always_inline]] inline char* room_for_set(output_blocks& output) {
    return output.error != 0 ? nullptr : output.block + output.held;
}

// Hands the full block to the stream, and moves what lies past it to the
// start of the next.
void hand_over_full_block(output_blocks& output);

// Takes the length bytes put at room_for_set as one whole set, and hands
// the block to the stream once it is full.
[[gnu::always_inline]] inline void commit_set(output_blocks& output, int length) {
    output.held += length;
    output.set_ends[static_cast<std::uint64_t>(output.sets_put++) % RECENT_SET_ENDS] =
        output.handed + output.held;
    if (output.held >= STREAM_BUFFER_SIZE) hand_over_full_block(output);
}

// Hands what the block holds to the stream, unless a write has failed.
void end_output(output_blocks& output);

// What one pass over the input found, the system's error numbers of the
// read and the write that failed, if one did (0 otherwise), and the name of
// the engine that did the work.
struct sift_result {
    std::int64_t sets_found;
    int read_error;
    int write_error;
    const char* engine;
};

// The loop over the window, as the engine in use runs it: filters input
// to output, reading from the input's first block and putting sets in the
// output's block.
sift_result sift_blocks(line_window& window, input_blocks& input, output_blocks& output);

// Filters input to output.  Reading stops at the end of input or at the
// first read error; after the first write error nothing more is written,
// but every set found is counted.  Everything found is handed to the
// output stream; the streams are neither buffered nor closed here.
sift_result sift(FILE* input, FILE* output);

// What the command line named: whether the input and the output are files
// that kepsift opened itself.
struct named_files {
    bool input;
    bool output;
};

// Buffers both streams, sifts, writes the count report when the input was a
// named file, then checks and closes both streams.  Returns the exit status.
int run(FILE* input, FILE* output, named_files named);

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

// True if name_line, line_one and line_two pass their templates at column:
// the name line's at the name's first byte.
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
void write_set(const line_window& window, int column, output_blocks& output);

// True if the name that starts at name_start begins like line 1 or line 2:
// what is left of a broken pair, which names nothing.
bool names_nothing(const input_line& name_line, int name_start);

// Writes the pair found by find_bare_pair at column, with an empty name.
void write_bare_pair(const line_window& window, int column, output_blocks& output);

#endif
