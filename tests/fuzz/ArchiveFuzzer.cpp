// Reads arbitrary bytes as a zipped export and converts it: nothing may crash
// or hang, whatever the archive claims, and everything written stays inside
// the run's own output folder.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "conversion/FolderConversion.hpp"
#include "platform/Error.hpp"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fs::path scratch;
    if (scratch.empty()) {
        ::setenv("NI_RESOURCE_DIR", fs::path(NI_TEMPLATE_DIR).parent_path().c_str(), 1);
        const char* tmp = std::getenv("TMPDIR");
        std::string folder =
            std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/ni-fuzz-archive.XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) std::abort();
        scratch = folder;
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(scratch, ec);
        });
    }
    const fs::path archive = scratch / "export.zip", out = scratch / "out";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    ni::ConversionOptions options;
    options.keptNoteBytes = size % 2 == 0 ? ni::kKeptNoteBytes : 0;  // both ways of writing
    options.keepGoing = size % 3 == 0;
    ni::Error error;
    if (auto scan = ni::scanFolderAtURL(archive, options, &error))
        ni::writeFolderScan(*scan, out / "Notara Export", options, &error);
    // Only the archive and what the run wrote may be in the scratch folder.
    for (const auto& item : fs::directory_iterator(scratch))
        if (item.path() != archive && item.path() != out) {
            std::fprintf(stderr, "written outside the output: %s\n", item.path().c_str());
            std::abort();
        }
    std::error_code ec;
    fs::remove_all(out, ec);
    return 0;
}
