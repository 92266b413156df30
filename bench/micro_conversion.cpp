// Micro-benchmarks of the per-note work of a conversion: splitting a note's
// text, parsing a date, and building a whole sheet package in memory.
// Runs in the en_US locale and UTC whatever the environment says, so that
// figures from different machines compare.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "conversion/SheetPackage.hpp"
#include "conversion/NoteFile.hpp"
#include "platform/Error.hpp"
#include "platform/UTF8.hpp"

namespace fs = std::filesystem;

namespace {

// A typical note: a title, three paragraphs, about 1.5 KB in all, tags and dates.
std::string typicalNote() {
    std::string text = "Weekend plans for the garden\n";
    const std::string sentence =
        "Measure the beds by the kitchen window before ordering soil, and compare the "
        "prices at the market with the ones from the catalogue. ";
    for (int paragraph = 0; paragraph < 3; ++paragraph) {
        for (int i = 0; i < 3; ++i) text += sentence;
        text += "\n";
    }
    text += "\nTags: home, garden, to do\nCreated: Jan 5, 2024, 3:04 PM\nModified: Feb 29, 2024, 12:00 PM\n";
    return text;
}

void noteFromText(benchmark::State& state) {
    const std::string bytes = typicalNote();
    const std::u16string text = ni::utf16FromUTF8(bytes).value();
    const fs::path url = "/nonexistent/Weekend plans.txt";
    for (auto _ : state) benchmark::DoNotOptimize(ni::noteFromText(text, url));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(noteFromText);

void utf16FromUTF8(benchmark::State& state) {
    const std::string bytes = typicalNote();
    for (auto _ : state) benchmark::DoNotOptimize(ni::utf16FromUTF8(bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(utf16FromUTF8);

void dateFromString(benchmark::State& state) {
    const std::u16string date = u"Jan 5, 2024, 3:04 PM";
    for (auto _ : state) benchmark::DoNotOptimize(ni::dateFromString(date));
}
BENCHMARK(dateFromString);

// The whole sheet builder on a note file: read, split, fill the sheet,
// serialise it and make the plain text.
void createSheetFromFile(benchmark::State& state) {
    std::string scratch = (fs::temp_directory_path() / "ni_micro.XXXXXX").string();
    if (::mkdtemp(scratch.data()) == nullptr) {
        state.SkipWithError("cannot make a scratch folder");
        return;
    }
    const fs::path note = fs::path(scratch) / "Weekend plans.txt";
    const std::string bytes = typicalNote();
    std::ofstream(note, std::ios::binary) << bytes;
    ni::Error error;
    for (auto _ : state) {
        auto sheet = ni::createSheetFromFileAtURL(note, &error);
        if (!sheet) {
            state.SkipWithError(error.message().c_str());
            break;
        }
        benchmark::DoNotOptimize(sheet);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    std::error_code ec;
    fs::remove_all(scratch, ec);
}
BENCHMARK(createSheetFromFile);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    ::setenv("TZ", "UTC", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
