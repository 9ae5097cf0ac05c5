// SPDX-License-Identifier: ISC
// The run against streams that fail once, at one call, and then work again:
// every read and every write of a fixture that spans many buffers is made to
// fail in turn, and each run must give either the right output or a clean
// prefix of it, with the one true message and status 1.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "kepsift.h"
#include "support.h"

namespace {

using test::as_input;
using test::GANNET;
using test::KESTREL;
using test::LANTERN;
using test::ORBITER;

// A stream over memory whose call number fail_at (counting from 1) fails
// with error, and whose close fails with error if fail_close is set.  Reads
// hand out at most chunk bytes a call, so that a fixture gives many calls.
// An error of 0 is a stream that fails and leaves errno as it was, as a
// stream of a library's own may.
struct faulty_stream {
    std::string bytes;
    std::size_t position = 0;
    std::size_t chunk = 0;
    int calls = 0;
    int fail_at = 0;
    bool fail_close = false;
    int error = EIO;

    bool fails_now() {
        if (++calls != fail_at) return false;
        fail();
        return true;
    }
    void fail() const {
        if (error != 0) errno = error;
    }
};

ssize_t read_faulty(void* cookie, char* buffer, std::size_t size) {
    auto& stream = *static_cast<faulty_stream*>(cookie);
    if (stream.fails_now()) return -1;
    const std::size_t count = std::min({size, stream.chunk, stream.bytes.size() - stream.position});
    std::memcpy(buffer, stream.bytes.data() + stream.position, count);
    stream.position += count;
    return static_cast<ssize_t>(count);
}

// A cookie's write reports an error by writing nothing: it must not return
// a negative count, which the library would take for a huge one.
ssize_t write_faulty(void* cookie, const char* buffer, std::size_t size) {
    auto& stream = *static_cast<faulty_stream*>(cookie);
    if (stream.fails_now()) return 0;
    stream.bytes.append(buffer, size);
    return static_cast<ssize_t>(size);
}

int close_faulty(void* cookie) {
    auto& stream = *static_cast<faulty_stream*>(cookie);
    if (!stream.fail_close) return 0;
    stream.fail();
    return -1;
}

FILE* open_faulty(faulty_stream& stream, const char* mode) {
    FILE* file = fopencookie(&stream, mode, {read_faulty, write_faulty, nullptr, close_faulty});
    if (file == nullptr) throw std::runtime_error("fopencookie failed");
    return file;
}

struct run_result {
    int status;
    std::string out;
    std::string err;
};

run_result run_faulty(faulty_stream& input, faulty_stream& output) {
    testing::internal::CaptureStderr();
    const int status = run(open_faulty(input, "r"), open_faulty(output, "w"), {true, false});
    return {status, output.bytes, testing::internal::GetCapturedStderr()};
}

std::string report(std::int64_t sets) {
    if (sets == 0) return "No element sets found.\n";
    if (sets == 1) return "Found 1 element set.\n";
    return "Found " + std::to_string(sets) + " element sets.\n";
}

// Named sets, bare pairs, quoted sets with CR-LF ends and prose, so that
// the fault falls inside every kind of line and window.
std::string fixture() {
    std::string input;
    for (int copy = 0; copy < 120; ++copy) {
        input += as_input(copy % 2 ? ORBITER : KESTREL, std::string(static_cast<std::size_t>(copy % 5), ' '));
        input += std::string(LANTERN.line_one) + "\n" + LANTERN.line_two + "\n";
        input += "some words between the sets\r\n" + as_input(GANNET, "> ", "\r\n");
    }
    return input;
}

constexpr std::size_t READ_CHUNK = 1000;

// The errors a stream fails with, and what the user reads for each: a
// failure that leaves errno alone is an input/output error, never success.
struct stream_error {
    int error;
    const char* text;
};

constexpr stream_error LEAVES_ERRNO{0, "Input/output error"};

// What the run gives for the input up to the read call fail_at.
std::string sifted_before_read(const std::string& input, int fail_at, std::int64_t& sets) {
    const std::size_t read = static_cast<std::size_t>(fail_at - 1) * READ_CHUNK;
    return test::sift_text(input.substr(0, std::min(input.size(), read)), &sets);
}

TEST(Faults, AReadFaultEndsTheInputWhereItHits) {
    const std::string input = fixture();
    const int calls = static_cast<int>(input.size() / READ_CHUNK) + 2;
    for (const stream_error& error : {stream_error{EIO, "Input/output error"}, LEAVES_ERRNO}) {
        for (int fail_at = 1; fail_at <= calls; ++fail_at) {
            SCOPED_TRACE("read call " + std::to_string(fail_at) + ", errno " + std::to_string(error.error));
            faulty_stream in{input, 0, READ_CHUNK, 0, fail_at};
            in.error = error.error;
            faulty_stream out;
            const run_result result = run_faulty(in, out);

            std::int64_t sets = 0;
            EXPECT_EQ(result.out, sifted_before_read(input, fail_at, sets));
            EXPECT_EQ(result.err, report(sets) + "Error reading input file: " + error.text + "\n");
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(in.calls, fail_at) << "read again after the fault";
        }
    }
}

TEST(Faults, AWriteFaultLeavesACleanPrefixOfTheOutput) {
    const std::string input = fixture();
    std::int64_t sets = 0;
    const std::string full = test::sift_text(input, &sets);
    const int calls = static_cast<int>((full.size() + STREAM_BUFFER_SIZE - 1) / STREAM_BUFFER_SIZE);
    ASSERT_GT(calls, 5);
    for (const stream_error& error : {stream_error{ENOSPC, "No space left on device"}, LEAVES_ERRNO}) {
        for (int fail_at = 1; fail_at <= calls; ++fail_at) {
            SCOPED_TRACE("write call " + std::to_string(fail_at) + ", errno " + std::to_string(error.error));
            faulty_stream in{input, 0, READ_CHUNK};
            faulty_stream out;
            out.fail_at = fail_at;
            out.error = error.error;
            const run_result result = run_faulty(in, out);

            // Each write is one full buffer; the last is made by the close.
            const std::string failure =
                fail_at < calls ? "Error writing output file" : "Error closing output file";
            EXPECT_EQ(result.out, full.substr(0, static_cast<std::size_t>(fail_at - 1) * STREAM_BUFFER_SIZE));
            EXPECT_EQ(result.err, report(sets) + failure + ": " + error.text + "\n");
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(in.position, input.size()) << "reading stopped at the write fault";
        }
    }
}

TEST(Faults, AFailedCloseIsReported) {
    const std::string input = as_input(ORBITER) + as_input(KESTREL);
    struct Case {
        const char* name;
        bool input_fails;
        int error;
        std::string message;
    } cases[] = {
        {"input", true, EBADF, "Error closing input file: Bad file descriptor\n"},
        {"output", false, ENOSPC, "Error closing output file: No space left on device\n"},
        {"input, errno left alone", true, 0, "Error closing input file: Input/output error\n"},
        {"output, errno left alone", false, 0, "Error closing output file: Input/output error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        faulty_stream in{input, 0, READ_CHUNK};
        faulty_stream out;
        faulty_stream& failing = c.input_fails ? in : out;
        failing.fail_close = true;
        failing.error = c.error;
        const run_result result = run_faulty(in, out);
        EXPECT_EQ(result.out, test::written(ORBITER) + test::written(KESTREL));
        EXPECT_EQ(result.err, "Found 2 element sets.\n" + c.message);
        EXPECT_EQ(result.status, 1);
    }
}

TEST(Faults, OnlyTheFirstOfTwoFailuresIsReported) {
    // The first failure in the order the streams are checked is the one
    // told; the status is 1 however many there were.
    const std::string input = fixture();
    std::int64_t all_sets = 0;
    const std::string full = test::sift_text(input, &all_sets);
    const auto read_failure = [&](int fail_at) {
        std::int64_t sets = 0;
        sifted_before_read(input, fail_at, sets);
        return report(sets) + "Error reading input file: Input/output error\n";
    };
    // Late enough for a full block to be written before it, and early
    // enough for the output to fit in one buffer.
    constexpr int LATE_READ_FAULT = 20;
    constexpr int EARLY_READ_FAULT = 2;
    std::int64_t sets = 0;
    ASSERT_GE(sifted_before_read(input, LATE_READ_FAULT, sets).size(), STREAM_BUFFER_SIZE);
    ASSERT_LT(sifted_before_read(input, EARLY_READ_FAULT, sets).size(), STREAM_BUFFER_SIZE);
    struct Case {
        const char* name;
        int read_fails_at;
        int write_fails_at;
        bool input_close_fails;
        bool output_close_fails;
        std::string output;
        std::string messages;
    } cases[] = {
        {"a read, then a write", LATE_READ_FAULT, 1, false, false, "", read_failure(LATE_READ_FAULT)},
        {"a read, then the input's close", EARLY_READ_FAULT, 0, true, false,
         sifted_before_read(input, EARLY_READ_FAULT, sets), read_failure(EARLY_READ_FAULT)},
        {"a read, then the last write at the close", EARLY_READ_FAULT, 1, false, false, "",
         read_failure(EARLY_READ_FAULT)},
        {"a write, then the output's close", 0, 1, false, true, "",
         report(all_sets) + "Error writing output file: No space left on device\n"},
        {"both closes", 0, 0, true, true, full,
         report(all_sets) + "Error closing input file: Input/output error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        faulty_stream in{input, 0, READ_CHUNK, 0, c.read_fails_at, c.input_close_fails};
        faulty_stream out;
        out.fail_at = c.write_fails_at;
        out.fail_close = c.output_close_fails;
        out.error = ENOSPC;
        const run_result result = run_faulty(in, out);
        EXPECT_EQ(result.out, c.output);
        EXPECT_EQ(result.err, c.messages);
        EXPECT_EQ(result.status, 1);
        if (c.write_fails_at != 0) {
            EXPECT_EQ(out.calls, c.write_fails_at) << "the write fault was not met, or written past";
        }
    }
}

} // namespace
