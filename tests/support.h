// SPDX-License-Identifier: ISC
// Helpers shared by the tests: memory streams, files and running the
// built program.

#ifndef KEPSIFT_TEST_SUPPORT_H
#define KEPSIFT_TEST_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <spawn.h>

#include <gtest/gtest.h>

#include "engine.h"
#include "kepsift.h"

namespace test {

// Element sets made for the tests, each valid as written: name, line 1, line 2.
struct element_set {
    const char* name;
    const char* line_one;
    const char* line_two;
};

inline constexpr element_set ORBITER{
    "ORBITER 7",
    "1 41907U 16071B   26343.51782528  .00000123  00000-0  42153-4 0  9997",
    "2 41907  97.4512 128.3321 0011234 201.5532 158.5222 15.21837711487426",
};
inline constexpr element_set KESTREL{
    "KESTREL-2 DEB",
    "1 39084U 13008A   26342.88410201  .00000071  00000-0  25861-4 0 99912",
    "2 39084  98.2207  45.0871 0001342  89.7731 270.3612 14.57119564612344",
};
// Carries a '+' in the exponent of the second derivative.
inline constexpr element_set LANTERN{
    "LANTERN 12",
    "1 58011U 23155C   26341.12500000 -.00000020  00000+0 -10730-3 0 12345",
    "2 58011  53.0540 310.4400 0001710  92.1180 268.0010 15.06391210177882",
};
// Carries a '-' as the sign of the second derivative (column 45).
inline constexpr element_set GANNET{
    "GANNET 1",
    "1 44713U 19074A   26343.04166667 -.00001480 -11606-4 -10022-3 0 99906",
    "2 44713  53.0539 115.2877 0001445  85.6421 274.4721 15.06399451392179",
};

// The set as kepsift writes it when it carries no plus sign.
std::string written(const element_set& set);
// The same with an empty name line, as a bare pair is written.
std::string written_bare(const element_set& set);
// The set as three input lines, each after prefix and ended by line_end.
std::string as_input(const element_set& set, const std::string& prefix = "",
                     const std::string& line_end = "\n");

// A read-only stream over bytes (fmemopen cannot open an empty buffer).
FILE* open_input(const std::string& bytes);

// Runs the filter loop over input and returns what it wrote.  The loop must
// report that the engine in use did the work.
std::string sift_text(const std::string& input, std::int64_t* sets_found = nullptr);

// A test run once with each engine the build holds, and named after it:
// the engine is put in use for the test, which is skipped where this
// processor cannot run it.
class engine_test : public testing::TestWithParam<const engine*> {
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    const engine* before_ = nullptr;
};

std::string engine_name(const testing::TestParamInfo<const engine*>& info);

} // namespace test

// How the tests print an engine: by its name.
void PrintTo(const engine* each, std::ostream* out);

namespace test {

// An input_line holding text.
input_line make_line(const std::string& text);

struct program_result {
    int status;
    std::string out;
    std::string err;
};

// The command that runs kepsift under a checker, from KEPSIFT_WRAPPER
// (words split at spaces), or nothing.
std::vector<std::string> wrapper_words();

// The emulator that runs a cross-built kepsift on this machine, from
// KEPSIFT_EMULATOR (words split at spaces, the first a full path), or
// nothing when the program runs natively.
std::vector<std::string> emulator_words();

// Starts the built kepsift, under the wrapper and the emulator if there
// are any, with arguments and the file actions given.
pid_t start_kepsift(const std::vector<std::string>& arguments, const posix_spawn_file_actions_t* actions);

// Runs the built kepsift with arguments; standard input is read from the
// file stdin_path.  Standard output is captured, or where stdout_path is
// given, is that file opened with stdout_flags, and out is left empty.
program_result run_kepsift(const std::vector<std::string>& arguments,
                           const std::string& stdin_path = "/dev/null", const std::string& stdout_path = "",
                           int stdout_flags = 0);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// A fresh directory, removed with everything in it when this goes.
class temporary_directory {
  public:
    temporary_directory();
    ~temporary_directory();
    temporary_directory(const temporary_directory&) = delete;
    temporary_directory& operator=(const temporary_directory&) = delete;
    std::string path(const std::string& name) const { return root_ + "/" + name; }

  private:
    std::string root_;
};

} // namespace test

#endif
