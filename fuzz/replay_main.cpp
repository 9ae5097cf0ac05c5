// SPDX-License-Identifier: ISC
// Runs the fuzz target once over each file named, or over every file in
// each folder named, so that a build without libFuzzer replays the corpus.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char* argv[]) {
    int replayed = 0;
    for (int index = 1; index < argc; ++index) {
        const std::filesystem::path path = argv[index];
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) {
                    replay(entry.path());
                    ++replayed;
                }
        } else {
            replay(path);
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    // A corpus that went missing must not pass as replayed.
    return replayed > 0 ? 0 : 1;
}
