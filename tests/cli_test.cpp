// SPDX-License-Identifier: ISC
// End-to-end: the built program, its arguments, streams and exit status.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support.h"

namespace {

using test::as_input;
using test::KESTREL;
using test::ORBITER;
using test::run_kepsift;
using test::written;

const std::string USAGE_TAIL = "Copyright (c) 2026 the KEPSIFT authors.\n"
                               "Released under the ISC License; it comes with no warranty.\n"
                               "\n"
                               "  usage:  kepsift [inputfile [outputfile]]\n"
                               "     If no inputfile is specified, reads from stdin.\n"
                               "     If no outputfile is specified, outputs to stdout.\n";

// True if text is the usage text, whose first line carries the build's date
// and time as "Dec  9 2026 14:03:07".
bool is_usage(const std::string& text) {
    const std::string head = "KEPSIFT 0.50 ";
    const std::size_t end = text.find('\n');
    if (end == std::string::npos || text.compare(0, head.size(), head) != 0) return false;
    const std::string stamp = text.substr(head.size(), end - head.size());
    const std::string shape = "Mmm Dd dddd dd:dd:dd";
    if (stamp.size() != shape.size()) return false;
    const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::size_t month = months.find(stamp.substr(0, 3));
    if (month == std::string::npos || month % 3 != 0) return false;
    for (std::size_t k = 3; k < shape.size(); ++k) {
        const char c = stamp[k];
        const bool fits = shape[k] == 'd'   ? c >= '0' && c <= '9'
                          : shape[k] == 'D' ? c == ' ' || (c >= '1' && c <= '3')
                                            : c == shape[k];
        if (!fits) return false;
    }
    return text.substr(end + 1) == USAGE_TAIL;
}

std::string example(const std::string& name) { return std::string(KEPSIFT_SOURCE_DIR "/examples/") + name; }
std::string expected(const std::string& name) {
    return test::read_file(std::string(KEPSIFT_SOURCE_DIR "/tests/expected/") + name);
}

TEST(Command, UsageCheckKnowsTheDateForm) {
    EXPECT_TRUE(is_usage("KEPSIFT 0.50 Dec  9 2026 14:03:07\n" + USAGE_TAIL));
    EXPECT_TRUE(is_usage("KEPSIFT 0.50 Jan 31 2027 00:00:59\n" + USAGE_TAIL));
    EXPECT_FALSE(is_usage("KEPSIFT 0.50 Dec 09 2026 14:03:07\n" + USAGE_TAIL));
    EXPECT_FALSE(is_usage("KEPSIFT 0.50 2026-12-09 14:03:07\n" + USAGE_TAIL));
}

TEST(Command, FiltersTheExamplesFromFileAndStandardInput) {
    struct Case {
        const char* file;
        const char* report;
    } cases[] = {
        {"mail.txt", "Found 2 element sets.\n"},
        {"catalog.txt", "Found 5 element sets.\n"},
        {"pairs.txt", "Found 4 element sets.\n"},
        {"crlf.txt", "Found 2 element sets.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const test::program_result named = run_kepsift({example(c.file)});
        EXPECT_EQ(named.status, 0);
        EXPECT_EQ(named.out, expected(c.file));
        EXPECT_EQ(named.err, c.report);

        // Standard input gets no report.
        const test::program_result piped = run_kepsift({}, example(c.file));
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(piped.out, expected(c.file));
        EXPECT_EQ(piped.err, "");
    }
}

TEST(Command, ReportsTheCountInEachForm) {
    test::temporary_directory dir;
    struct Case {
        const char* name;
        std::string input;
        std::string report;
    } cases[] = {
        {"none", "no sets here\n", "No element sets found.\n"},
        {"empty file", "", "No element sets found.\n"},
        {"one", as_input(ORBITER), "Found 1 element set.\n"},
        {"two", as_input(ORBITER) + as_input(KESTREL), "Found 2 element sets.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::write_file(dir.path("in"), c.input);
        const test::program_result result = run_kepsift({dir.path("in")});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, c.report);
    }
}

TEST(Command, WritesANamedOutputFile) {
    test::temporary_directory dir;
    test::write_file(dir.path("out"), "old contents that must go\n");
    const test::program_result result = run_kepsift({example("mail.txt"), dir.path("out")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Found 2 element sets.\n");
    EXPECT_EQ(test::read_file(dir.path("out")), expected("mail.txt"));
}

TEST(Command, RefusesBadArgumentsWithUsage) {
    test::temporary_directory dir;
    const std::string input = dir.path("in");
    test::write_file(input, as_input(ORBITER));
    ASSERT_EQ(symlink(input.c_str(), dir.path("symlink").c_str()), 0) << std::strerror(errno);
    ASSERT_EQ(link(input.c_str(), dir.path("hardlink").c_str()), 0) << std::strerror(errno);
    const std::string missing = dir.path("missing");
    // An output file that is there already keeps every byte when the run
    // is refused.
    const std::string kept = dir.path("kept");
    test::write_file(kept, "an earlier catalog\n");
    ASSERT_EQ(mkdir(dir.path("folder").c_str(), 0700), 0) << std::strerror(errno);

    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {"three arguments", {input, dir.path("second"), dir.path("third")}, ""},
        {"missing input", {missing}, "Could not open file " + missing + ": No such file or directory\n"},
        {"missing input with output",
         {missing, dir.path("second")},
         "Could not open file " + missing + ": No such file or directory\n"},
        {"output in a missing folder",
         {input, dir.path("nofolder/out")},
         "Could not open output file " + dir.path("nofolder/out") + ": No such file or directory\n"},
        {"same file twice",
         {input, input},
         "Could not open output file " + input + ": it is the input file\n"},
        {"same file by a symbolic link",
         {input, dir.path("symlink")},
         "Could not open output file " + dir.path("symlink") + ": it is the input file\n"},
        {"same file by a hard link",
         {dir.path("hardlink"), input},
         "Could not open output file " + input + ": it is the input file\n"},
        {"same file by another path",
         {input, dir.path("./in")},
         "Could not open output file " + dir.path("./in") + ": it is the input file\n"},
        {"a directory as the input file",
         {dir.path("folder"), kept},
         "Could not open file " + dir.path("folder") + ": Is a directory\n"},
        {"a directory as the input file, alone",
         {dir.path("folder")},
         "Could not open file " + dir.path("folder") + ": Is a directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::program_result result = run_kepsift(c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        ASSERT_EQ(result.err.substr(0, c.message.size()), c.message);
        EXPECT_TRUE(is_usage(result.err.substr(c.message.size()))) << result.err;
        EXPECT_FALSE(test::file_exists(dir.path("second")));
        EXPECT_FALSE(test::file_exists(dir.path("third")));
        EXPECT_EQ(test::read_file(input), as_input(ORBITER));
        EXPECT_EQ(test::read_file(kept), "an earlier catalog\n");
    }
}

TEST(Command, RefusesToWriteItsInputToStandardOutput) {
    // Appended to, the input would be read back without end; opened for
    // reading and writing, overwritten before it is read.
    test::temporary_directory dir;
    const std::string input = dir.path("in");
    const std::string other = dir.path("other");
    ASSERT_EQ(symlink("in", dir.path("symlink").c_str()), 0) << std::strerror(errno);
    const std::string refusal = "Could not write to standard output: it is the input file\n";
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string stdin_path;
        std::string stdout_path;
        int stdout_flags;
        int status;
        std::string err;
    } cases[] = {
        {"named input appended to", {input}, "/dev/null", input, O_WRONLY | O_APPEND, 1, refusal},
        {"standard input appended to", {}, input, input, O_WRONLY | O_APPEND, 1, refusal},
        {"named input read and written", {input}, "/dev/null", input, O_RDWR, 1, refusal},
        {"standard input by another name", {}, dir.path("symlink"), input, O_WRONLY | O_APPEND, 1, refusal},
        {"another file appended to",
         {input},
         "/dev/null",
         other,
         O_WRONLY | O_APPEND,
         0,
         "Found 1 element set.\n"},
        {"standard input to another file", {}, input, other, O_WRONLY | O_APPEND, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::write_file(input, as_input(ORBITER));
        test::write_file(other, "before\n");
        const test::program_result result =
            run_kepsift(c.arguments, c.stdin_path, c.stdout_path, c.stdout_flags);
        EXPECT_EQ(result.status, c.status);
        ASSERT_EQ(result.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(c.status != 0, is_usage(result.err.substr(c.err.size()))) << result.err;
        EXPECT_EQ(test::read_file(input), as_input(ORBITER));
        EXPECT_EQ(test::read_file(other), c.status == 0 ? "before\n" + written(ORBITER) : "before\n");
    }
}

TEST(Command, ReportsStreamErrorsAfterTheCount) {
    test::temporary_directory dir;
    // More output than one stream buffer, so writing fails before the close.
    std::string many;
    for (int copy = 0; copy < 100; ++copy) many += as_input(ORBITER);
    test::write_file(dir.path("one"), as_input(ORBITER));
    test::write_file(dir.path("many"), many);

    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string stdin_path;
        std::string err;
    } cases[] = {
        {"small output to a full device",
         {dir.path("one"), "/dev/full"},
         "/dev/null",
         "Found 1 element set.\nError closing output file: No space left on device\n"},
        {"large output to a full device",
         {dir.path("many"), "/dev/full"},
         "/dev/null",
         "Found 100 element sets.\nError writing output file: No space left on device\n"},
        {"a directory as standard input", {}, dir.path("."), "Error reading input file: Is a directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::program_result result = run_kepsift(c.arguments, c.stdin_path);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
    }
}

// A pseudo-terminal gives a read error part-way through the input: once its
// terminal side is closed, reading the master side returns what was written
// there and then fails with EIO, on every later read.  (A reader of the
// terminal side is no use here: when the master closes, a read that has
// not yet begun sees a plain end of input, so the outcome would hang on
// whether kepsift is waiting in read(2) at that moment.)  The master can
// only be handed over as a descriptor, so kepsift reads it as standard
// input, which gives no count report.
TEST(Command, ReadErrorPartWayKeepsTheSetsFound) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const int device_end = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(device_end, 0);
    // Raw, so that the line ends reach the master as they were written.
    termios raw{};
    ASSERT_EQ(tcgetattr(device_end, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(device_end, TCSANOW, &raw), 0);

    const std::string input = as_input(ORBITER) + as_input(KESTREL);
    ASSERT_EQ(write(device_end, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(device_end);

    test::temporary_directory dir;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, terminal, 0);
    posix_spawn_file_actions_addclose(&actions, terminal);
    posix_spawn_file_actions_addopen(&actions, 1, dir.path("out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, dir.path("err").c_str(), O_WRONLY | O_CREAT, 0600);
    const pid_t pid = test::start_kepsift({}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(terminal);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);

    ASSERT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), 1);
    EXPECT_EQ(test::read_file(dir.path("out")), written(ORBITER) + written(KESTREL));
    EXPECT_EQ(test::read_file(dir.path("err")), "Error reading input file: Input/output error\n");
}

} // namespace

// A named file must never land on a standard descriptor that was closed
// before the start: with descriptor 2 closed, the report would go into the
// data.  Every combination of closed descriptors with every form of the
// command line; a closed stream that the run uses fails as closed.  (Not
// under valgrind, which cannot start without descriptor 2.  qemu-user, which
// runs a cross build's tests, starts with any of them closed and hands them
// on closed, so the whole test runs there.)
TEST(ClosedDescriptors, NeverTakeTheData) {
    test::temporary_directory dir;
    const std::string input = dir.path("in");
    const std::string contents = test::read_file(example("mail.txt"));
    test::write_file(input, contents);
    const std::string data = expected("mail.txt");
    std::string many;
    for (int copy = 0; copy < 100; ++copy) many += as_input(ORBITER);
    test::write_file(dir.path("many"), many);

    struct Outcome {
        int status;
        std::string standard_output;
        std::string messages;
    };
    const auto run_with_closed = [&](int closed, const std::vector<std::string>& arguments) {
        const char* const paths[] = {nullptr, "stdout", "stderr"};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int descriptor = 0; descriptor < 3; ++descriptor) {
            if (closed & (1 << descriptor))
                posix_spawn_file_actions_addclose(&actions, descriptor);
            else if (descriptor == 0)
                posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
            else
                posix_spawn_file_actions_addopen(&actions, descriptor, dir.path(paths[descriptor]).c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        const pid_t pid = test::start_kepsift(arguments, &actions);
        posix_spawn_file_actions_destroy(&actions);
        int wait_status = 0;
        waitpid(pid, &wait_status, 0);
        EXPECT_TRUE(WIFEXITED(wait_status));
        return Outcome{WEXITSTATUS(wait_status), test::read_file(dir.path("stdout")),
                       test::read_file(dir.path("stderr"))};
    };

    const std::vector<std::string> all_arguments{input, dir.path("out")};
    for (int closed = 1; closed < 8; ++closed) {
        for (std::size_t count = 0; count <= 2; ++count) {
            const bool input_closed = closed & 1;
            const bool output_closed = closed & 2;
            const bool errors_closed = closed & 4;
            SCOPED_TRACE("closed descriptors " + std::string(input_closed ? "0 " : "") +
                         (output_closed ? "1 " : "") + (errors_closed ? "2 " : "") + "with " +
                         std::to_string(count) + " arguments");
            for (const char* name : {"stdout", "stderr", "out"}) std::remove(dir.path(name).c_str());
            const std::vector<std::string> arguments(all_arguments.begin(),
                                                     all_arguments.begin() + static_cast<long>(count));
            const Outcome outcome = run_with_closed(closed, arguments);

            const bool reads_closed_input = count == 0 && input_closed;
            const bool writes_closed_output = count < 2 && output_closed && !reads_closed_input;
            std::string messages = count > 0 ? "Found 2 element sets.\n" : "";
            if (reads_closed_input) messages += "Error reading input file: Bad file descriptor\n";
            if (writes_closed_output) messages += "Error closing output file: Bad file descriptor\n";
            EXPECT_EQ(outcome.status, reads_closed_input || writes_closed_output ? 1 : 0);
            if (!errors_closed) {
                EXPECT_EQ(outcome.messages, messages);
            }
            if (!output_closed) {
                EXPECT_EQ(outcome.standard_output, count < 2 && !reads_closed_input ? data : "");
            }
            if (count == 2) {
                EXPECT_EQ(test::read_file(dir.path("out")), data);
            }
            EXPECT_EQ(test::read_file(input), contents);
        }
    }

    // A closed descriptor named as a file, by any of the names that reach
    // it, is refused as a file that cannot be opened, never read as empty
    // or written into nothing; /dev/null itself still opens.
    const std::string out = dir.path("out");
    struct Named {
        int closed;
        std::vector<std::string> arguments;
        std::string message;
    } named[] = {
        {1, {"/dev/stdin"}, "Could not open file /dev/stdin: Bad file descriptor\n"},
        {1, {"/proc/self/fd/0", out}, "Could not open file /proc/self/fd/0: Bad file descriptor\n"},
        {1, {"/dev/fd/0"}, "Could not open file /dev/fd/0: Bad file descriptor\n"},
        {1, {input, "/dev/stdin"}, "Could not open output file /dev/stdin: Bad file descriptor\n"},
        {2, {input, "/dev/stdout"}, "Could not open output file /dev/stdout: Bad file descriptor\n"},
        {2, {input, "/proc/self/fd/1"}, "Could not open output file /proc/self/fd/1: Bad file descriptor\n"},
        {2, {"/dev/stdout"}, "Could not open file /dev/stdout: Bad file descriptor\n"},
        {3, {"/dev/fd/1", out}, "Could not open file /dev/fd/1: Bad file descriptor\n"},
        {4, {input, "/dev/stderr"}, ""},
        {4, {"/dev/stderr"}, ""},
    };
    for (const Named& c : named) {
        SCOPED_TRACE("closed " + std::to_string(c.closed) + ", " + c.arguments.front() + " " +
                     c.arguments.back());
        for (const char* name : {"stdout", "stderr", "out"}) std::remove(dir.path(name).c_str());
        const Outcome outcome = run_with_closed(c.closed, c.arguments);
        EXPECT_EQ(outcome.status, 1);
        if (!(c.closed & 4)) {
            ASSERT_EQ(outcome.messages.substr(0, c.message.size()), c.message);
            EXPECT_TRUE(is_usage(outcome.messages.substr(c.message.size()))) << outcome.messages;
        }
        EXPECT_FALSE(test::file_exists(out));
        EXPECT_EQ(test::read_file(input), contents);
    }
    const Outcome null_input = run_with_closed(1, {"/dev/null"});
    EXPECT_EQ(null_input.status, 0);
    EXPECT_EQ(null_input.messages, "No element sets found.\n");

    // More than one buffer of output to a closed standard output fails at
    // the first write, not only at the close.
    const Outcome large = run_with_closed(2, {dir.path("many")});
    EXPECT_EQ(large.status, 1);
    EXPECT_EQ(large.messages, "Found 100 element sets.\nError writing output file: Bad file descriptor\n");
}
