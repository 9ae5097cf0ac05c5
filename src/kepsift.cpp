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

#include "engine.h"
#include "kepsift.h"

#ifndef KEPSIFT_VERSION
#error "the build defines KEPSIFT_VERSION"
#endif

namespace {

// The one window of the run.  It lives as long as the process, so the
// program allocates nothing of its own.
line_window window;

// The streams' buffers and the blocks the program moves through them, for
// the same reason.
char input_buffer[STREAM_BUFFER_SIZE];
char output_buffer[STREAM_BUFFER_SIZE];
input_blocks input_storage;
output_blocks output_storage;

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

bool same_regular_file(const struct stat& one, const struct stat& other) {
    return S_ISREG(one.st_mode) && S_ISREG(other.st_mode) && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

// True if path names the same regular file as the open input stream, which
// opening it for writing would truncate before a byte was read.
bool is_input_file(FILE* input, const char* path) {
    struct stat input_status {};
    struct stat output_status {};
    return fstat(fileno(input), &input_status) == 0 && stat(path, &output_status) == 0 &&
           same_regular_file(input_status, output_status);
}

// True if standard output is the same regular file as the open input
// stream: appended to, it would be read back without end and fill the
// disk; opened for reading and writing, it would overwrite what is still
// to be read.
bool writes_to_input(FILE* input) {
    struct stat input_status {};
    struct stat output_status {};
    return fstat(fileno(input), &input_status) == 0 && fstat(STDOUT_FILENO, &output_status) == 0 &&
           same_regular_file(input_status, output_status);
}

int refuse_output_to_input() {
    std::fputs("Could not write to standard output: it is the input file\n", stderr);
    return usage_failure();
}

// A standard descriptor that was closed before the start would be the next
// one open() hands out, and a named file opened on descriptor 2 would take
// the messages into the data.  Each closed one is held on an end of a pipe
// of its own, the end its stream is not used in (a write end for 0, a read
// end for 1 and 2), so that using it still fails with EBADF as a closed
// descriptor would.  A pipe is a file no name reaches but through the
// descriptor itself (/dev/stdin, /proc/self/fd/0 and the like), so that
// such names can be refused: a closed descriptor stays unusable however it
// is reached.
struct held_descriptor {
    bool held;
    dev_t device;
    ino_t inode;
};

held_descriptor held_descriptors[STDERR_FILENO + 1];

bool hold_closed_standard_descriptors() {
    bool closed[STDERR_FILENO + 1];
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor)
        closed[descriptor] = fcntl(descriptor, F_GETFD) == -1 && errno == EBADF;
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (!closed[descriptor]) continue;
        // The pipe's ends may land on standard descriptors still closed,
        // which their own turn replaces.
        int ends[2];
        if (pipe(ends) != 0) return false;
        const int kept = ends[descriptor == STDIN_FILENO ? 1 : 0];
        if (kept != descriptor && dup2(kept, descriptor) != descriptor) return false;
        for (const int end : ends)
            if (end != descriptor && end > STDERR_FILENO) close(end);
    }
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (!closed[descriptor]) continue;
        struct stat status {};
        if (fstat(descriptor, &status) != 0) return false;
        held_descriptors[descriptor] = {true, status.st_dev, status.st_ino};
    }
    return true;
}

// True if status is that of a file a closed standard descriptor is held on.
bool is_held_descriptor(const struct stat& status) {
    for (const held_descriptor& held : held_descriptors)
        if (held.held && held.device == status.st_dev && held.inode == status.st_ino) return true;
    return false;
}

// True if path names a closed standard descriptor.  Asked before the name
// is opened, since opening a pipe may wait for its other end.
bool names_held_descriptor(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && is_held_descriptor(status);
}

// Opens a named file, refusing what kepsift cannot use: a closed standard
// descriptor, whatever name reaches it, and as input a directory, which
// opens on some systems and fails only when read.  Sets errno when it
// refuses.
FILE* open_named(const char* path, const char* mode, bool is_input) {
    if (names_held_descriptor(path)) {
        errno = EBADF;
        return nullptr;
    }
    FILE* stream = std::fopen(path, mode);
    if (stream == nullptr) return nullptr;
    struct stat status {};
    int refusal = 0;
    if (fstat(fileno(stream), &status) != 0)
        refusal = errno;
    else if (is_held_descriptor(status))
        refusal = EBADF;
    else if (is_input && S_ISDIR(status.st_mode))
        refusal = EISDIR;
    if (refusal == 0) return stream;
    std::fclose(stream);
    errno = refusal;
    return nullptr;
}

void report_count(std::int64_t sets_found) {
    if (sets_found == 0)
        std::fputs("No element sets found.\n", stderr);
    else if (sets_found == 1)
        std::fputs("Found 1 element set.\n", stderr);
    else
        std::fprintf(stderr, "Found %" PRId64 " element sets.\n", sets_found);
}

// Where kepsift opened the output file itself and a write failed, the file
// is cut back to the end of the last whole set that reached it, so that it
// holds whole sets only, a prefix of the right output.  Standard output is
// never cut: it may be a pipe, or a file others append to.
void cut_to_whole_sets(const output_blocks& output) {
    struct stat status {};
    const int descriptor = fileno(output.stream);
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return;
    std::int64_t cut = 0;
    const std::int64_t remembered = std::min<std::int64_t>(output.sets_put, RECENT_SET_ENDS);
    for (std::int64_t back = 1; back <= remembered; ++back) {
        const std::int64_t end = output.set_ends[(output.sets_put - back) % RECENT_SET_ENDS];
        if (end <= status.st_size) {
            cut = end;
            break;
        }
    }
    // Should the cut fail, the status already tells of the failed write;
    // there is nothing more to do about it.
    if (cut < status.st_size && ftruncate(descriptor, cut) != 0) return;
}

// The system's error number of a stream call that failed, made with errno
// cleared.  A stream may fail and leave errno alone (one made with
// fopencookie, say): that is told as an input/output error, never as
// success.
int stream_error() { return errno != 0 ? errno : EIO; }

// Flushes or closes stream; returns 0, or the error number of the failure.
int flush_stream(FILE* stream) {
    errno = 0;
    return std::fflush(stream) == 0 ? 0 : stream_error();
}

int close_stream(FILE* stream) {
    errno = 0;
    return std::fclose(stream) == 0 ? 0 : stream_error();
}

// Every check runs and both streams are closed, so what the output holds is
// flushed whatever failed; only the first failure is reported.  The output
// is flushed before it is closed, so that a file cut back after a failed
// write is cut before its descriptor goes.
int close_streams(FILE* input, output_blocks& output, const sift_result& result, named_files named) {
    int status = EXIT_SUCCESS;
    if (result.read_error != 0) status = report_failure(result.read_error, "Error reading input file");
    if (const int error = close_stream(input); error != 0 && status == EXIT_SUCCESS)
        status = report_failure(error, "Error closing input file");
    const bool write_failed = result.write_error != 0;
    if (write_failed && status == EXIT_SUCCESS)
        status = report_failure(result.write_error, "Error writing output file");
    // What the stream still buffers goes at the flush, which fails as the
    // close would have.
    const int flush_error = write_failed ? 0 : flush_stream(output.stream);
    if ((write_failed || flush_error != 0) && named.output) cut_to_whole_sets(output);
    if (flush_error != 0 && status == EXIT_SUCCESS)
        status = report_failure(flush_error, "Error closing output file");
    if (const int error = close_stream(output.stream); error != 0 && status == EXIT_SUCCESS)
        status = report_failure(error, "Error closing output file");
    return status;
}

} // namespace

// Once the stream has met its end or an error it is not read again: a read
// after an error might succeed, and a line cut by the failed read would
// arrive as two.  fread gathers a whole block where it can, so every
// read(2) asks for STREAM_BUFFER_SIZE bytes.
bool take_block(input_blocks& input) {
    input.next = 0;
    input.held = 0;
    // The block's own line end, and a byte after it that is none, at which
    // the reader's skip of line ends stops at the latest; an empty block
    // has them too, so that the reader finds nothing in it.
    const auto end_block = [&input] {
        input.block[input.held] = '\n';
        input.block[input.held + 1] = '\0';
    };
    if (input.error != 0 || std::feof(input.stream)) {
        end_block();
        return false;
    }
    errno = 0;
    input.held = static_cast<int>(std::fread(input.block, 1, STREAM_BUFFER_SIZE, input.stream));
    end_block();
    // Taken now, before a write can change it.
    if (std::ferror(input.stream)) input.error = stream_error();
    // Some editors begin a UTF-8 file with a byte-order mark.  It is no
    // text: before a name it would stand in the name, before a bare pair it
    // would move line 1 off line 2's column.
    if (input.at_start && input.held >= BYTE_ORDER_MARK_SIZE &&
        std::memcmp(input.block, BYTE_ORDER_MARK, BYTE_ORDER_MARK_SIZE) == 0)
        input.next = BYTE_ORDER_MARK_SIZE;
    input.at_start = false;
    return input.held > 0;
}

namespace {

// Hands the first count bytes of the output's storage to the stream, unless
// a write has failed before.
void hand_over(output_blocks& output, int count) {
    if (output.error != 0) return;
    errno = 0;
    const auto bytes = static_cast<std::size_t>(count);
    if (std::fwrite(output.block, 1, bytes, output.stream) != bytes || std::ferror(output.stream))
        output.error = stream_error();
    else
        output.handed += count;
}

} // namespace

void begin_input(input_blocks& input, FILE* stream) {
    input.stream = stream;
    input.next = 0;
    input.held = 0;
    input.error = 0;
    input.at_start = true;
    input.block[0] = '\n';
    input.block[1] = '\0';
}

int read_line(input_line& line, input_blocks& input) { return current_engine().read_line(line, input); }

void begin_output(output_blocks& output, FILE* stream) {
    output.stream = stream;
    output.held = 0;
    output.handed = 0;
    output.error = 0;
    output.sets_put = 0;
}

void hand_over_full_block(output_blocks& output) {
    // The set ran past the block: what lies past it starts the next.
    hand_over(output, STREAM_BUFFER_SIZE);
    output.held -= STREAM_BUFFER_SIZE;
    std::memmove(output.block, output.block + STREAM_BUFFER_SIZE, static_cast<std::size_t>(output.held));
}

void end_output(output_blocks& output) {
    if (output.held > 0) hand_over(output, output.held);
    output.held = 0;
}

sift_result sift_blocks(line_window& lines, input_blocks& input, output_blocks& output) {
    return current_engine().sift(lines, input, output);
}

sift_result sift(FILE* input_stream, FILE* output_stream) {
    input_blocks& input = input_storage;
    output_blocks& output = output_storage;
    begin_input(input, input_stream);
    begin_output(output, output_stream);
    sift_result result = sift_blocks(window, input, output);
    end_output(output);
    result.read_error = input.error;
    result.write_error = output.error;
    return result;
}

int run(FILE* input, FILE* output, named_files named) {
    // Full buffering even on a terminal: the output is data for other
    // programs, and a line at a time would cost a system call per line.
    // The buffers are the program's own storage, so that the size asked for
    // is the size used: glibc picks the file's block size when it allocates.
    std::setvbuf(input, input_buffer, _IOFBF, sizeof input_buffer);
    std::setvbuf(output, output_buffer, _IOFBF, sizeof output_buffer);
    const sift_result result = sift(input, output);
    if (named.input) report_count(result.sets_found);
    return close_streams(input, output_storage, result, named);
}

int kepsift_main(int argc, char* argv[]) {
    // A build limited to one engine may meet a processor that cannot run it.
    if (!runs_here(current_engine())) {
        std::fprintf(stderr, "Fatal error: this processor cannot run the %s engine.\n",
                     current_engine().name);
        return EXIT_FAILURE;
    }
    if (!hold_closed_standard_descriptors())
        return report_failure(errno, "Could not hold a closed standard descriptor");
    if (argc > 3) return usage_failure();
    if (argc <= 1)
        return writes_to_input(stdin) ? refuse_output_to_input() : run(stdin, stdout, {false, false});

    const char* input_path = argv[1];
    FILE* input = open_named(input_path, "rb", true);
    if (input == nullptr) {
        report_failure(errno, "Could not open file %s", input_path);
        return usage_failure();
    }
    FILE* output = stdout;
    if (argc == 2 && writes_to_input(input)) {
        std::fclose(input);
        return refuse_output_to_input();
    }
    if (argc == 3) {
        const char* output_path = argv[2];
        if (is_input_file(input, output_path)) {
            std::fprintf(stderr, "Could not open output file %s: it is the input file\n", output_path);
            std::fclose(input);
            return usage_failure();
        }
        output = open_named(output_path, "w", false);
        if (output == nullptr) {
            report_failure(errno, "Could not open output file %s", output_path);
            std::fclose(input);
            return usage_failure();
        }
    }
    return run(input, output, {true, argc == 3});
}
