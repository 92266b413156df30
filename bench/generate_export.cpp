// Writes a synthetic Notara export for the benchmark.
//
//   bench_generate_export [--notes N] [--folders F] [--picture-every K]
//                         [--picture-bytes BYTES] [--seed S] OUTPUT_FOLDER
//
// The notes are spread evenly over the top level and F sub-folders. Each note
// has a title line, a few paragraphs of text, tags and both dates; every K-th
// note names a picture of BYTES random bytes (default 200 KiB) in the
// "Pictures" folder beside it. The same arguments always give the same export,
// and the notes' text does not depend on the picture size, so an export with
// small pictures has the same notes as one with large ones. OUTPUT_FOLDER must
// not exist yet. On success the last line on stdout reads
// "notes=N pictures=P text_bytes=T picture_bytes=B".

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A small, fast generator; the export only has to be repeatable, not random.
struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

constexpr std::array kWords{
    "the",     "a",       "and",     "of",       "to",       "in",      "for",      "with",     "on",
    "at",      "from",    "by",      "about",    "after",    "before",  "between",  "morning",  "evening",
    "weekend", "meeting", "project", "garden",   "kitchen",  "market",  "letter",   "station",  "river",
    "window",  "bicycle", "library", "holiday",  "budget",   "plan",    "idea",     "list",     "question",
    "answer",  "draft",   "review",  "schedule", "call",     "visit",   "remember", "check",    "bring",
    "order",   "finish",  "start",   "write",    "read",     "cook",    "clean",    "repair",   "paint",
    "measure", "compare", "quick",   "long",     "quiet",    "bright",  "careful",  "simple",   "early",
    "late",    "café",    "naïve",   "crème",    "façade",   "über",    "señor",    "smörgås",  "déjà vu",
    "notes",   "photos",  "tickets", "receipts", "invoices", "recipes", "contacts", "chapters",
};

constexpr std::array kTags{
    "home",  "work",  "travel", "recipes", "books",  "ideas", "errands", "health",
    "money", "music", "garden", "family",  "school", "cars",  "photos",  "to do",
};

constexpr std::array kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void appendWords(std::string& out, SplitMix64& rng, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out += ' ';
        out += kWords[rng.below(kWords.size())];
    }
}

// A date like "Jan 5, 2024, 3:04 PM".
std::string dateText(SplitMix64& rng, int year) {
    char buffer[64];
    const int hour = static_cast<int>(rng.below(12)) + 1;
    std::snprintf(buffer, sizeof buffer, "%s %d, %d, %d:%02d %s", kMonths[rng.below(12)],
                  static_cast<int>(rng.below(28)) + 1, year, hour, static_cast<int>(rng.below(60)),
                  rng.below(2) ? "PM" : "AM");
    return buffer;
}

// A title that is unique within the export (it is also the file name).
std::string noteTitle(SplitMix64& rng, std::size_t index) {
    std::string title = "Note " + std::to_string(index) + ' ';
    appendWords(title, rng, 2 + rng.below(4));
    return title;
}

// Title, body of a few hundred bytes to a few KB, then the metadata block.
std::string noteText(SplitMix64& rng, const std::string& title, const std::string& picture) {
    std::string text;
    text.reserve(4096);
    text += title;
    text += '\n';
    const std::size_t paragraphs = 1 + rng.below(6);
    for (std::size_t p = 0; p < paragraphs; ++p) {
        appendWords(text, rng, 30 + rng.below(90));
        text += ".\n";
        if (rng.below(3) == 0) text += '\n';
    }
    text += '\n';
    if (!picture.empty()) text += "Picture: " + picture + '\n';
    text += "Tags: ";
    const std::size_t tagCount = 1 + rng.below(3);
    for (std::size_t t = 0; t < tagCount; ++t) {
        if (t > 0) text += ", ";
        text += kTags[rng.below(kTags.size())];
    }
    text += '\n';
    const int year = 2015 + static_cast<int>(rng.below(10));
    text += "Created: " + dateText(rng, year) + '\n';
    text += "Modified: " + dateText(rng, year + 1) + '\n';
    return text;
}

bool writeFile(const fs::path& path, const char* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool makeFolder(const fs::path& path) {
    std::error_code ec;
    if (!fs::create_directory(path, ec)) {
        std::fprintf(stderr, "cannot create folder %s: %s\n", path.c_str(),
                     ec ? ec.message().c_str() : "it exists");
        return false;
    }
    return true;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: bench_generate_export [--notes N] [--folders F] [--picture-every K]\n"
                 "                             [--picture-bytes BYTES] [--seed S] OUTPUT_FOLDER\n");
    std::exit(2);
}

std::size_t numberArgument(int argc, char** argv, int& i) {
    if (i + 1 >= argc) usage();
    const char* text = argv[++i];
    // strtoull would take "-1" as a huge number.
    if (text[0] < '0' || text[0] > '9') usage();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE) usage();
    return static_cast<std::size_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t notes = 10000, folders = 20, pictureEvery = 10, pictureSize = 200 * 1024;
    std::uint64_t seed = 1;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--notes")
            notes = numberArgument(argc, argv, i);
        else if (arg == "--folders")
            folders = numberArgument(argc, argv, i);
        else if (arg == "--picture-every")
            pictureEvery = numberArgument(argc, argv, i);
        else if (arg == "--picture-bytes")
            pictureSize = numberArgument(argc, argv, i);
        else if (arg == "--seed")
            seed = numberArgument(argc, argv, i);
        else if (!arg.starts_with("--") && output == nullptr)
            output = argv[i];
        else
            usage();
    }
    if (output == nullptr) usage();

    const fs::path root = output;
    if (!makeFolder(root)) return 1;
    // Slot 0 is the top level, slots 1..F the sub-folders.
    std::vector<fs::path> slots{root};
    for (std::size_t f = 1; f <= folders; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "Folder %02zu", f);
        slots.push_back(root / name);
        if (!makeFolder(slots.back())) return 1;
    }
    std::vector<bool> hasPictures(slots.size(), false);

    SplitMix64 rng{seed};
    std::vector<std::uint64_t> picture((pictureSize + 7) / 8);
    std::size_t pictures = 0, textBytes = 0, pictureBytes = 0;
    for (std::size_t n = 0; n < notes; ++n) {
        const std::size_t slot = n % slots.size();
        std::string pictureName;
        if (pictureEvery > 0 && n % pictureEvery == pictureEvery - 1) {
            pictureName = "photo-" + std::to_string(n) + ".jpg";
            const fs::path folder = slots[slot] / "Pictures";
            if (!hasPictures[slot]) {
                if (!makeFolder(folder)) return 1;
                hasPictures[slot] = true;
            }
            // A generator of its own per picture keeps the notes' text the same
            // whatever the picture size.
            SplitMix64 pictureRng{seed ^ (0xA5A5A5A5A5A5A5A5ull + n)};
            for (auto& word : picture) word = pictureRng.next();
            if (!writeFile(folder / pictureName, reinterpret_cast<const char*>(picture.data()), pictureSize))
                return 1;
            ++pictures;
            pictureBytes += pictureSize;
        }
        const std::string title = noteTitle(rng, n);
        const std::string text = noteText(rng, title, pictureName);
        if (!writeFile(slots[slot] / (title + ".txt"), text.data(), text.size())) return 1;
        textBytes += text.size();
    }
    std::printf("notes=%zu pictures=%zu text_bytes=%zu picture_bytes=%zu\n", notes, pictures, textBytes,
                pictureBytes);
    return 0;
}
