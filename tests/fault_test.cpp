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
        errno = error;
        return true;
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
    errno = stream.error;
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

TEST(Faults, AReadFaultEndsTheInputWhereItHits) {
    const std::string input = fixture();
    const int calls = static_cast<int>(input.size() / READ_CHUNK) + 2;
    for (int fail_at = 1; fail_at <= calls; ++fail_at) {
        SCOPED_TRACE("read call " + std::to_string(fail_at));
        faulty_stream in{input, 0, READ_CHUNK, 0, fail_at};
        faulty_stream out;
        const run_result result = run_faulty(in, out);

        // What the run gives for the input that came before the fault.
        std::int64_t sets = 0;
        const std::string cut =
            input.substr(0, std::min(input.size(), static_cast<std::size_t>(fail_at - 1) * READ_CHUNK));
        EXPECT_EQ(result.out, test::sift_text(cut, &sets));
        EXPECT_EQ(result.err, report(sets) + "Error reading input file: Input/output error\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(in.calls, fail_at) << "read again after the fault";
    }
}

TEST(Faults, AWriteFaultLeavesACleanPrefixOfTheOutput) {
    const std::string input = fixture();
    std::int64_t sets = 0;
    const std::string full = test::sift_text(input, &sets);
    const int calls = static_cast<int>((full.size() + STREAM_BUFFER_SIZE - 1) / STREAM_BUFFER_SIZE);
    ASSERT_GT(calls, 5);
    for (int fail_at = 1; fail_at <= calls; ++fail_at) {
        SCOPED_TRACE("write call " + std::to_string(fail_at));
        faulty_stream in{input, 0, READ_CHUNK};
        faulty_stream out;
        out.fail_at = fail_at;
        out.error = ENOSPC;
        const run_result result = run_faulty(in, out);

        // Each write is one full buffer; the last is made by the close.
        const std::string failure =
            fail_at < calls ? "Error writing output file" : "Error closing output file";
        EXPECT_EQ(result.out, full.substr(0, static_cast<std::size_t>(fail_at - 1) * STREAM_BUFFER_SIZE));
        EXPECT_EQ(result.err, report(sets) + failure + ": No space left on device\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(in.position, input.size()) << "reading stopped at the write fault";
    }
}

TEST(Faults, AFailedCloseIsReported) {
    const std::string input = as_input(ORBITER) + as_input(KESTREL);
    struct Case {
        const char* name;
        bool input_fails;
        std::string message;
    } cases[] = {
        {"input", true, "Error closing input file: Input/output error\n"},
        {"output", false, "Error closing output file: Input/output error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        faulty_stream in{input, 0, READ_CHUNK};
        faulty_stream out;
        (c.input_fails ? in : out).fail_close = true;
        const run_result result = run_faulty(in, out);
        EXPECT_EQ(result.out, test::written(ORBITER) + test::written(KESTREL));
        EXPECT_EQ(result.err, "Found 2 element sets.\n" + c.message);
        EXPECT_EQ(result.status, 1);
    }
}

} // namespace
