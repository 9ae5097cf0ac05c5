// SPDX-License-Identifier: ISC
// Writes a benchmark input of one kind to standard output:
//   generate clean|pairs|noisy|adversarial|worst|crowded MEGABYTES
// The same arguments always give the same bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A small generator of our own, so the bytes do not depend on the standard
// library's distributions.
class random_source {
  public:
    explicit random_source(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int bound) { return static_cast<int>(next() % static_cast<std::uint64_t>(bound)); }
    bool chance(int percent) { return below(100) < percent; }

  private:
    std::uint64_t state_;
};

const char* const WORDS[] = {"ORBITER", "KESTREL",  "LANTERN", "GANNET", "HERON",   "SPARROW",
                             "DEB",     "R/B",      "the",     "pass",   "tonight", "elements",
                             "station", "tracking", "window",  "clear",  "orbit",   "decay",
                             "sent",    "below",    "update",  "from",   "desk",    "with"};
constexpr int WORD_COUNT = sizeof WORDS / sizeof WORDS[0];

std::string digits(random_source& random, int count) {
    std::string text;
    for (int k = 0; k < count; ++k) text += static_cast<char>('0' + random.below(10));
    return text;
}

char check_digit(const std::string& line) {
    int sum = 0;
    for (std::size_t k = 0; k < 68; ++k) {
        if (line[k] >= '0' && line[k] <= '9') sum += line[k] - '0';
        if (line[k] == '-') sum += 1;
    }
    return static_cast<char>('0' + sum % 10);
}

struct element_set {
    std::string name;
    std::string one;
    std::string two;
};

std::string sign(random_source& random) { return random.chance(30) ? "-" : " "; }

element_set make_set(random_source& random) {
    element_set set;
    set.name = std::string(WORDS[random.below(8)]) + " " + std::to_string(random.below(500));
    if (random.chance(30)) set.name += std::string(" ") + WORDS[6 + random.below(2)];
    const std::string number = digits(random, 5);
    set.one = "1 " + number + "U " + digits(random, 5) + "A   " + digits(random, 5) + "." +
              digits(random, 8) + " " + sign(random) + "." + digits(random, 8) + " " + sign(random) +
              digits(random, 5) + "-" + digits(random, 1) + " " + sign(random) + digits(random, 5) + "-" +
              digits(random, 1) + " 0 " + " " + digits(random, 3);
    set.one += check_digit(set.one);
    set.two = "2 " + number + " " + digits(random, 3) + "." + digits(random, 4) + " " + digits(random, 3) +
              "." + digits(random, 4) + " " + digits(random, 7) + " " + digits(random, 3) + "." +
              digits(random, 4) + " " + digits(random, 3) + "." + digits(random, 4) + " " +
              digits(random, 2) + "." + digits(random, 8) + digits(random, 5);
    set.two += check_digit(set.two);
    return set;
}

std::string prose(random_source& random) {
    std::string line;
    const int words = 4 + random.below(14);
    for (int k = 0; k < words; ++k) line += std::string(k ? " " : "") + WORDS[random.below(WORD_COUNT)];
    return line;
}

std::string padded(std::string name, std::size_t width) {
    if (name.size() < width) name.resize(width, ' ');
    return name;
}

// One block of the chosen kind: a few kilobytes at most.
std::string block(const std::string& kind, random_source& random) {
    const element_set set = make_set(random);
    if (kind == "clean") return padded(set.name, 24) + "\n" + set.one + "\n" + set.two + "\n";
    if (kind == "pairs") return set.one + "\n" + set.two + "\n";
    if (kind == "noisy") {
        const std::string end = random.chance(30) ? "\r\n" : "\n";
        std::string text;
        for (int k = random.below(4); k > 0; --k) text += (random.chance(20) ? "" : prose(random)) + end;
        std::string prefix;
        switch (random.below(5)) {
        case 0: prefix = "> "; break;
        case 1: prefix = std::string(static_cast<std::size_t>(1 + random.below(8)), ' '); break;
        case 2: prefix = "\t"; break;
        default: break;
        }
        std::string one = set.one;
        std::string two = set.two;
        std::string second_prefix = prefix;
        switch (random.below(8)) {
        case 0: one[68] = static_cast<char>('0' + (one[68] - '0' + 1) % 10); break; // bad check digit
        case 1: second_prefix += " "; break;                                        // shifted column
        case 2: two += "   extra text after the set"; break;
        default: break;
        }
        text += prefix + set.name + end + prefix + one + end + second_prefix + two + end;
        return text;
    }
    if (kind == "crowded") {
        // A '1' over a '2', each before a space, at every other column:
        // a candidate for the quick test at every second column.
        std::string one_line;
        std::string two_line;
        while (one_line.size() < 1000) {
            one_line += "1 ";
            two_line += "2 ";
        }
        return one_line + "\n" + two_line + "\n";
    }
    if (kind == "worst") {
        // Lines of about 1000 bytes: a chain of valid line 1s, then on the
        // next line a chain of line 2s at the same columns that fail only at
        // their check digit.  Each candidate is tried to the last column of
        // both lines, once with the line before as its name and once as a
        // bare pair.
        std::string one_line;
        std::string two_line;
        while (one_line.size() < 930) {
            const element_set link = make_set(random);
            std::string bad_two = link.two;
            bad_two[68] = static_cast<char>('0' + (bad_two[68] - '0' + 1) % 10);
            one_line += link.one + " ";
            two_line += bad_two + " ";
        }
        return one_line + "\n" + two_line + "\n";
    }
    // adversarial: long lines on which '1' and '2' meet at many columns, with
    // stretches that fit the layout almost to the end and check digits that
    // fail last, so the search does its most work per byte.
    std::string one_line;
    std::string two_line;
    while (one_line.size() < 930) {
        std::string bad_two = set.two;
        bad_two[68] = static_cast<char>('0' + (bad_two[68] - '0' + 1) % 10);
        one_line += set.one + "1";
        two_line += bad_two + "2";
    }
    return one_line + "\n" + two_line + "\n";
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: generate clean|pairs|noisy|adversarial|worst|crowded MEGABYTES\n", stderr);
        return 2;
    }
    const std::string kind = argv[1];
    if (kind != "clean" && kind != "pairs" && kind != "noisy" && kind != "adversarial" && kind != "worst" &&
        kind != "crowded") {
        std::fprintf(stderr, "generate: unknown kind %s\n", argv[1]);
        return 2;
    }
    const long long target = std::atoll(argv[2]) * 1000000LL;
    random_source random(20261210);
    long long written = 0;
    while (written < target) {
        const std::string text = block(kind, random);
        std::fwrite(text.data(), 1, text.size(), stdout);
        written += static_cast<long long>(text.size());
    }
    return std::fclose(stdout) == 0 ? 0 : 1;
}
