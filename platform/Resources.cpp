#include "platform/Resources.hpp"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "NIConfig.hpp"
#include "platform/Error.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

const fs::path& executableDirectory() {
    static const fs::path directory = [] {
        std::error_code ec;
        const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
        return ec ? fs::path() : executable.parent_path();
    }();
    return directory;
}

}  // namespace

std::vector<fs::path> resourceSearchPath() {
    std::vector<fs::path> folders;
    if (const char* override = std::getenv("NI_RESOURCE_DIR"); override != nullptr && *override != '\0')
        folders.emplace_back(override);
    if (const fs::path& exeDir = executableDirectory(); !exeDir.empty()) {
        folders.push_back(exeDir / "resources");
        folders.push_back((exeDir.parent_path() / config::kResourceInstallDir).lexically_normal());
    }
    return folders;
}

std::optional<fs::path> URLForResource(const std::string& name, const std::string& extension, Error* error) {
    const std::string filename = extension.empty() ? name : name + "." + extension;
    std::string lookedIn;
    for (const fs::path& folder : resourceSearchPath()) {
        const fs::path candidate = folder / filename;
        std::error_code ec;
        if (fs::exists(fs::status(candidate, ec))) return candidate;
        if (!lookedIn.empty()) lookedIn += ", ";
        lookedIn += "“" + displayPath(folder) + "”";
    }
    setError(error, Error(ErrorKind::TemplateMissing, filename, 0, lookedIn));
    return std::nullopt;
}

}  // namespace ni
