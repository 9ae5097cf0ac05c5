// SPDX-License-Identifier: ISC
// Feeds arbitrary bytes through the filter loop, once with each engine this
// processor can run, and checks what a user of the output relies on, and
// that each writes exactly what the plain reference filter writes: no valid
// set lost, none taken at the wrong column.  Any breach aborts, so the
// fuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "engine.h"
#include "kepsift.h"
#include "reference.h"
#include "reference_filter.h"

namespace {

[[noreturn]] void breach(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void require(bool holds, const char* what) {
    if (!holds) breach(what);
}

struct sifted {
    std::string output;
    std::int64_t sets_found;
};

// Runs the real loop, reading through a stream buffer of buffer_size bytes.
sifted sift_bytes(const void* data, std::size_t size, std::size_t buffer_size) {
    // fmemopen wants a buffer even for no bytes; it is only read.
    static char empty[1];
    static char stream_buffer[STREAM_BUFFER_SIZE];
    FILE* input = fmemopen(size == 0 ? empty : const_cast<void*>(data), size, "rb");
    char* buffer = nullptr;
    std::size_t length = 0;
    FILE* output = open_memstream(&buffer, &length);
    require(input != nullptr && output != nullptr, "memory streams open");
    require(std::setvbuf(input, stream_buffer, _IOFBF, buffer_size) == 0, "the input is buffered");

    const sift_result run = sift(input, output);
    require(run.engine == current_engine().name, "the engine in use did the work");
    require(std::feof(input) && !std::ferror(input), "the input is read to its end");
    std::fclose(input);
    require(std::fclose(output) == 0, "the output closes");
    sifted result{std::string(buffer, length), run.sets_found};
    std::free(buffer);
    return result;
}

void check_name(std::string_view name) {
    require(name.size() <= static_cast<std::size_t>(SET_LINE_WIDTH), "a name has at most 69 bytes");
    require(name.find('\t') == std::string_view::npos, "a name has no tab");
    require(name.find('\0') == std::string_view::npos, "a name has no NUL");
    require(name.empty() || (name[0] != ' ' && name[0] != '\t'), "a name does not begin with a blank");
    require(name.find("   ") == std::string_view::npos, "a name has no three spaces in a row");
    require(name.size() < 2 || name.substr(name.size() - 2) != "  ", "a name does not end in two spaces");
    const auto starts_like = [name](std::string_view layout) {
        if (name.size() < 7) return false;
        for (std::size_t k = 0; k < 7; ++k)
            if (!reference::code_accepts(layout[k], static_cast<unsigned char>(name[k]))) return false;
        return true;
    };
    require(!starts_like(reference::LINE_ONE_LAYOUT) && !starts_like(reference::LINE_TWO_LAYOUT),
            "a name does not start like line 1 or line 2");
}

void check_set_line(std::string_view line, std::string_view layout) {
    require(line.size() == static_cast<std::size_t>(SET_LINE_WIDTH), "a set line has 69 bytes");
    require(line.substr(0, SET_LINE_WIDTH - 1).find('+') == std::string_view::npos, "a set line has no '+'");
    require(reference::fits_layout(line, layout), "a set line fits its layout and plain check digit");
}

// Splits the output into LF-ended lines, checks each group of three and
// returns how many groups there are.
std::int64_t check_output(std::string_view output) {
    require(output.find('\r') == std::string_view::npos, "the output has no CR");
    require(output.empty() || output.back() == '\n', "the output ends with a line end");
    std::int64_t groups = 0;
    std::size_t start = 0;
    while (start < output.size()) {
        std::string_view lines[3];
        for (std::string_view& line : lines) {
            const std::size_t end = output.find('\n', start);
            require(end != std::string_view::npos, "the output is whole groups of three lines");
            line = output.substr(start, end - start);
            start = end + 1;
        }
        check_name(lines[0]);
        check_set_line(lines[1], reference::LINE_ONE_LAYOUT);
        check_set_line(lines[2], reference::LINE_TWO_LAYOUT);
        ++groups;
    }
    return groups;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Buffer ends fall at other places for inputs of other sizes.
    constexpr std::size_t BUFFER_SIZES[] = {STREAM_BUFFER_SIZE, 1, 2, 3, 7, 16, 17, 100};
    const reference_filter::result expected = reference_filter::sift(data, size);
    const engine& chosen = current_engine();
    for (const engine* each : built_engines()) {
        if (!use_engine(each->name)) continue;
        const sifted first = sift_bytes(data, size, BUFFER_SIZES[size % std::size(BUFFER_SIZES)]);
        require(check_output(first.output) == first.sets_found, "the count is the number of sets written");
        require(first.output == expected.output, "the output is the reference filter's");
        require(first.sets_found == expected.sets_found, "the count is the reference filter's");

        const sifted again = sift_bytes(first.output.data(), first.output.size(), STREAM_BUFFER_SIZE);
        require(again.output == first.output, "the output filters to itself");
        require(again.sets_found == first.sets_found, "filtering the output finds the same count");
    }
    use_engine(chosen.name);
    return 0;
}
