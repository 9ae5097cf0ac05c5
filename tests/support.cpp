// SPDX-License-Identifier: ISC
#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace test {

std::string written(const element_set& set) {
    return std::string(set.name) + "\n" + set.line_one + "\n" + set.line_two + "\n";
}

std::string written_bare(const element_set& set) {
    return std::string("\n") + set.line_one + "\n" + set.line_two + "\n";
}

std::string as_input(const element_set& set, const std::string& prefix, const std::string& line_end) {
    return prefix + set.name + line_end + prefix + set.line_one + line_end + prefix + set.line_two + line_end;
}

FILE* open_input(const std::string& bytes) {
    if (bytes.empty()) return std::fopen("/dev/null", "rb");
    // fmemopen keeps a pointer to the buffer, so give it one that outlives
    // the stream: the stream is closed long before the test ends.
    static thread_local std::vector<std::string> buffers;
    buffers.push_back(bytes);
    return fmemopen(buffers.back().data(), buffers.back().size(), "rb");
}

std::string sift_text(const std::string& input, std::int64_t* sets_found) {
    FILE* in = open_input(input);
    char* buffer = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    if (in == nullptr || out == nullptr) throw std::runtime_error("cannot open memory streams");
    const sift_result result = sift(in, out);
    EXPECT_STREQ(result.engine, current_engine().name);
    const std::int64_t count = result.sets_found;
    std::fclose(in);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    if (sets_found != nullptr) *sets_found = count;
    return text;
}

void engine_test::SetUp() {
    before_ = &current_engine();
    if (!runs_here(*GetParam()))
        GTEST_SKIP() << "this processor cannot run the " << GetParam()->name << " engine";
    ASSERT_TRUE(use_engine(GetParam()->name));
    ASSERT_EQ(&current_engine(), GetParam());
}

void engine_test::TearDown() {
    // A test skipped for its engine never put it in use.
    if (IsSkipped()) return;
    EXPECT_EQ(&current_engine(), GetParam()) << "the engine changed during the test";
    use_engine(before_->name);
}

std::string engine_name(const testing::TestParamInfo<const engine*>& info) { return info.param->name; }

input_line make_line(const std::string& text) {
    if (text.size() > LINE_CAPACITY) throw std::invalid_argument("line too long");
    input_line line{};
    line.length = static_cast<int>(text.size());
    text.copy(line.chars, text.size());
    return line;
}

namespace {

std::vector<std::string> words_of(const char* variable) {
    std::vector<std::string> words;
    const char* value = std::getenv(variable);
    std::istringstream stream(value == nullptr ? "" : value);
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

} // namespace

std::vector<std::string> wrapper_words() { return words_of("KEPSIFT_WRAPPER"); }

std::vector<std::string> emulator_words() { return words_of("KEPSIFT_EMULATOR"); }

pid_t start_kepsift(const std::vector<std::string>& arguments, const posix_spawn_file_actions_t* actions) {
    std::vector<std::string> words = wrapper_words();
    const std::vector<std::string> emulator = emulator_words();
    words.insert(words.end(), emulator.begin(), emulator.end());
    words.push_back(KEPSIFT_BINARY);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + words[0]);
    return pid;
}

program_result run_kepsift(const std::vector<std::string>& arguments, const std::string& stdin_path,
                           const std::string& stdout_path, int stdout_flags) {
    // Both outputs go to files, so neither pipe can fill while the other is read.
    temporary_directory capture;
    const bool captured = stdout_path.empty();
    const std::string out_path = captured ? capture.path("stdout") : stdout_path;
    const std::string err_path = capture.path("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                     captured ? O_WRONLY | O_CREAT | O_TRUNC : stdout_flags, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    const pid_t pid = start_kepsift(arguments, &actions);
    posix_spawn_file_actions_destroy(&actions);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    if (!WIFEXITED(wait_status)) throw std::runtime_error("kepsift did not exit normally");
    return {WEXITSTATUS(wait_status), captured ? read_file(out_path) : "", read_file(err_path)};
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
    if (!file) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

temporary_directory::temporary_directory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kepsift-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory");
    root_ = pattern;
}

temporary_directory::~temporary_directory() { std::filesystem::remove_all(root_); }

} // namespace test

void PrintTo(const engine* each, std::ostream* out) { *out << each->name; }
