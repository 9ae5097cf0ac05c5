// SPDX-License-Identifier: ISC
// Run control and input: the command line, the streams, the line reader and
// the one loop that moves a window of three lines through the input.

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kepsift.h"
#include "stream_buffer.h"

#ifdef KEPSIFT_SSE2
#include <emmintrin.h>
#endif
#ifdef KEPSIFT_AVX2
#include <immintrin.h>
#endif

#ifndef KEPSIFT_VERSION
#error "the build defines KEPSIFT_VERSION"
#endif

namespace {

constexpr int WINDOW_LINES = 3;

// The one window of the run.  It lives as long as the process, so the
// program allocates nothing of its own.
line_window window;

// The streams' buffers, for the same reason.
char input_buffer[STREAM_BUFFER_SIZE];
char output_buffer[STREAM_BUFFER_SIZE];

input_line& window_slot(int slot) {
    input_line* const slots[WINDOW_LINES] = {&window.name_line, &window.line_one, &window.line_two};
    return *slots[slot];
}

void copy_line(input_line& to, const input_line& from) {
    to.length = from.length;
    std::memcpy(to.chars, from.chars, static_cast<std::size_t>(from.length));
}

// Reads lines into the window from first_slot on, stopping at the first
// slot that gets no line.  Returns how many slots now hold a line.
int fill_window_from(int first_slot, FILE* input) {
    int slot = first_slot;
    while (slot < WINDOW_LINES && read_line(window_slot(slot), input) > 0) ++slot;
    return slot;
}

int refill_window(FILE* input) { return fill_window_from(0, input); }

// The oldest line leaves the window; line_two is left empty for the next read.
void slide_window() {
    copy_line(window.name_line, window.line_one);
    copy_line(window.line_one, window.line_two);
    window.line_two.length = 0;
}

// Writes the message, the system's text for error and a newline to standard
// error, and returns the failing exit status.
int report_failure(int error, const char* format, ...) __attribute__((format(printf, 2, 3)));

int report_failure(int error, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, ": %s\n", std::strerror(error));
    return EXIT_FAILURE;
}

void print_usage() {
    std::fprintf(stderr, "KEPSIFT " KEPSIFT_VERSION " %s\n", KEPSIFT_BUILD_DATE);
    std::fputs("Copyright (c) 2026 the KEPSIFT authors.\n"
               "Released under the ISC License; it comes with no warranty.\n"
               "\n"
               "  usage:  kepsift [inputfile [outputfile]]\n"
               "     If no inputfile is specified, reads from stdin.\n"
               "     If no outputfile is specified, outputs to stdout.\n",
               stderr);
}

int usage_failure() {
    print_usage();
    return EXIT_FAILURE;
}

// True if path names the same regular file as the open input stream, which
// opening it for writing would truncate before a byte was read.
bool is_input_file(FILE* input, const char* path) {
    struct stat input_status {};
    struct stat output_status {};
    return fstat(fileno(input), &input_status) == 0 && stat(path, &output_status) == 0 &&
           S_ISREG(input_status.st_mode) && S_ISREG(output_status.st_mode) &&
           input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino;
}

// A standard descriptor that was closed before the start would be the next
// one open() hands out, and a named file opened on descriptor 2 would take
// the messages into the data.  Each closed one is held on /dev/null, open
// in the direction its stream is not used in, so that using it still fails
// with EBADF as a closed descriptor would.
bool hold_closed_standard_descriptors() {
    const int unusable_direction[] = {O_WRONLY, O_RDONLY, O_RDONLY};
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", unusable_direction[descriptor]);
        if (held == descriptor) continue;
        if (held != -1) close(held);
        return false;
    }
    return true;
}

void report_count(std::int64_t sets_found) {
    if (sets_found == 0)
        std::fputs("No element sets found.\n", stderr);
    else if (sets_found == 1)
        std::fputs("Found 1 element set.\n", stderr);
    else
        std::fprintf(stderr, "Found %" PRId64 " element sets.\n", sets_found);
}

// Every check runs and both streams are closed, so what the output holds is
// flushed whatever failed; only the first failure is reported.
int close_streams(FILE* input, FILE* output, const sift_result& result) {
    int status = EXIT_SUCCESS;
    if (std::ferror(input)) status = report_failure(result.read_error, "Error reading input file");
    if (std::fclose(input) != 0 && status == EXIT_SUCCESS)
        status = report_failure(errno, "Error closing input file");
    if (std::ferror(output) && status == EXIT_SUCCESS)
        status = report_failure(result.write_error, "Error writing output file");
    if (std::fclose(output) != 0 && status == EXIT_SUCCESS)
        status = report_failure(errno, "Error closing output file");
    return status;
}

bool is_line_end(int byte) { return byte == '\n' || byte == '\r'; }

bool stream_has_stopped(FILE* stream) { return stream_ended(stream) || stream_failed(stream); }

#ifdef KEPSIFT_AVX2
// take_line_bytes 32 bytes at a time.
[[gnu::target("avx2")]] std::size_t take_line_bytes_avx2(const char* bytes, std::size_t count,
                                                         char* __restrict chars, std::size_t room) {
    constexpr std::size_t STEP = 32;
    const auto line_ends = [](__m256i run) __attribute__((target("avx2"))) {
        return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(
            _mm256_cmpeq_epi8(run, _mm256_set1_epi8('\n')), _mm256_cmpeq_epi8(run, _mm256_set1_epi8('\r')))));
    };
    std::size_t k = 0;
    const std::size_t stored = std::min(count, room);
    for (; k + STEP <= stored; k += STEP) {
        const __m256i run = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(chars + k), run);
        if (const unsigned ends = line_ends(run); ends != 0)
            return k + static_cast<unsigned>(__builtin_ctz(ends));
    }
    for (; k < stored; ++k) {
        if (is_line_end(static_cast<unsigned char>(bytes[k]))) return k;
        chars[k] = bytes[k];
    }
    for (; k + STEP <= count; k += STEP) {
        const __m256i run = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k));
        if (const unsigned ends = line_ends(run); ends != 0)
            return k + static_cast<unsigned>(__builtin_ctz(ends));
    }
    while (k < count && !is_line_end(static_cast<unsigned char>(bytes[k]))) ++k;
    return k;
}
#endif

// Copies the bytes of the current line from a run of count buffered bytes
// into chars, at most room of them, and returns where the line ends in the
// run: the index of its line end, or count if the run holds none.  Bytes
// past the room are looked at only to find the line end.
std::size_t take_line_bytes(const char* bytes, std::size_t count, char* __restrict chars, std::size_t room) {
    std::size_t k = 0;
    const std::size_t stored = std::min(count, room);
#ifdef KEPSIFT_SSE2
    // Sixteen bytes a step, stored whole: those stored past the line end
    // lie beyond its length, within the room.
    constexpr std::size_t STEP = 16;
    const auto line_ends = [](__m128i run) {
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_cmpeq_epi8(run, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(run, _mm_set1_epi8('\r')))));
    };
    for (; k + STEP <= stored; k += STEP) {
        const __m128i run = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(chars + k), run);
        if (const unsigned ends = line_ends(run); ends != 0)
            return k + static_cast<unsigned>(__builtin_ctz(ends));
    }
#endif
    for (; k < stored; ++k) {
        if (is_line_end(static_cast<unsigned char>(bytes[k]))) return k;
        chars[k] = bytes[k];
    }
#ifdef KEPSIFT_SSE2
    for (; k + STEP <= count; k += STEP) {
        const __m128i run = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        if (const unsigned ends = line_ends(run); ends != 0)
            return k + static_cast<unsigned>(__builtin_ctz(ends));
    }
#endif
    while (k < count && !is_line_end(static_cast<unsigned char>(bytes[k]))) ++k;
    return k;
}

// The reader, with take as the scan of buffered bytes: inlined into each
// caller, so that the scan is inlined too.
template <std::size_t (*take)(const char*, std::size_t, char*, std::size_t)>
[[gnu::always_inline]] inline int read_line_with(input_line& line, FILE* stream) {
    line.length = 0;
    // Once the stream has met its end or an error, no further line comes
    // from it: glibc's getc would read again after an error, and a line cut
    // by a failed read would arrive as two.
    if (stream_has_stopped(stream)) return 0;

    // Line ends before the line are skipped: the LF of a CR-LF whose CR
    // ended the previous line, and every empty line.  The bytes the buffer
    // holds are taken in runs; getc_unlocked refills it, handing out the
    // first byte of the next buffer, and takes every byte where the
    // buffer cannot be seen.  It returns EOF only once the end-of-file or
    // error indicator is set: a data byte 255 comes back as 255.
    int length = 0;
    for (;;) {
        const char* bytes = nullptr;
        const std::size_t count = buffered_input(stream, &bytes);
        std::size_t skipped = 0;
        while (skipped < count && is_line_end(static_cast<unsigned char>(bytes[skipped]))) ++skipped;
        consume_input(stream, skipped);
        if (skipped < count) break;
        const int byte = getc_unlocked(stream);
        if (byte == EOF) return 0;
        if (!is_line_end(byte)) {
            line.chars[length++] = static_cast<char>(byte);
            break;
        }
    }
    // The line, up to and with its line end, which is not stored.  Bytes
    // past the capacity are read and dropped up to the line end.
    for (;;) {
        const char* bytes = nullptr;
        const std::size_t count = buffered_input(stream, &bytes);
        if (count > 0) {
            const std::size_t room = static_cast<std::size_t>(LINE_CAPACITY - length);
            const std::size_t end = take(bytes, count, line.chars + length, room);
            length += static_cast<int>(std::min(end, room));
            if (end < count) {
                consume_input(stream, end + 1);
                break;
            }
            consume_input(stream, count);
        }
        const int byte = getc_unlocked(stream);
        if (byte == EOF || is_line_end(byte)) break;
        if (length < LINE_CAPACITY) line.chars[length++] = static_cast<char>(byte);
    }
    line.length = length;
    return length;
}

#ifdef KEPSIFT_AVX2
[[gnu::target("avx2")]] int read_line_avx2(input_line& line, FILE* stream) {
    return read_line_with<take_line_bytes_avx2>(line, stream);
}
#endif

} // namespace

int read_line(input_line& line, FILE* stream) {
#ifdef KEPSIFT_AVX2
    if (HAS_AVX2) return read_line_avx2(line, stream);
#endif
    return read_line_with<take_line_bytes>(line, stream);
}

sift_result sift(FILE* input, FILE* output) {
    sift_result result{0, 0, 0};
    // After a failed write the stream has dropped what its buffer held, so
    // anything written later would leave a hole in the output.  Nothing more
    // is written then: the output stays a clean prefix of what it should be.
    const auto put = [&](auto write) {
        ++result.sets_found;
        if (result.write_error != 0) return;
        write();
        if (stream_failed(output)) result.write_error = errno != 0 ? errno : EIO;
    };
    // The pair in name_line and line_one, when the search before the last
    // slide found it.
    constexpr int PAIR_UNKNOWN = NO_COLUMN - 1;
    int known_pair = PAIR_UNKNOWN;
    // Writes the bare pair in name_line and line_one, if they hold one.
    const auto take_bare_pair = [&] {
        const int column = known_pair != PAIR_UNKNOWN ? known_pair : find_bare_pair(window);
        known_pair = PAIR_UNKNOWN;
        if (column == NO_COLUMN) return false;
        put([&] { write_bare_pair(window, column, output); });
        return true;
    };
    errno = 0;
    int lines_held = refill_window(input);
    while (lines_held == WINDOW_LINES) {
        const window_search found = search_window(window);
        if (found.set_column != NO_COLUMN) {
            put([&] { write_set(window, found.set_column, output); });
            known_pair = PAIR_UNKNOWN;
            // The lines of a written set never take part in another set.
            lines_held = refill_window(input);
        } else if (take_bare_pair()) {
            copy_line(window.name_line, window.line_two);
            lines_held = fill_window_from(1, input);
        } else {
            slide_window();
            known_pair = found.pair_column;
            lines_held = fill_window_from(2, input);
        }
    }
    // Taken now, before a write can change it.
    if (std::ferror(input)) result.read_error = errno != 0 ? errno : EIO;
    // A file of bare pairs ends with its last pair alone in the window.
    if (lines_held == 2) take_bare_pair();
    return result;
}

int run(FILE* input, FILE* output, bool input_is_named) {
    // Full buffering even on a terminal: the output is data for other
    // programs, and a line at a time would cost a system call per line.
    // The buffers are the program's own storage, so that the size asked for
    // is the size used: glibc picks the file's block size when it allocates.
    std::setvbuf(input, input_buffer, _IOFBF, sizeof input_buffer);
    std::setvbuf(output, output_buffer, _IOFBF, sizeof output_buffer);
    const sift_result result = sift(input, output);
    if (input_is_named) report_count(result.sets_found);
    return close_streams(input, output, result);
}

int kepsift_main(int argc, char* argv[]) {
    if (!hold_closed_standard_descriptors()) return report_failure(errno, "Could not open /dev/null");
    if (argc <= 1) return run(stdin, stdout, false);
    if (argc > 3) return usage_failure();

    const char* input_path = argv[1];
    FILE* input = std::fopen(input_path, "rb");
    if (input == nullptr) {
        report_failure(errno, "Could not open file %s", input_path);
        return usage_failure();
    }
    FILE* output = stdout;
    if (argc == 3) {
        const char* output_path = argv[2];
        if (is_input_file(input, output_path)) {
            std::fprintf(stderr, "Could not open output file %s: it is the input file\n", output_path);
            std::fclose(input);
            return usage_failure();
        }
        output = std::fopen(output_path, "w");
        if (output == nullptr) {
            report_failure(errno, "Could not open output file %s", output_path);
            std::fclose(input);
            return usage_failure();
        }
    }
    return run(input, output, true);
}
