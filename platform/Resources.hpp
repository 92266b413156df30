#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ni {

class Error;

// The folders where bundled resources are looked for, in order: NI_RESOURCE_DIR
// when set, "resources" beside the executable (the build tree), then the
// install prefix's share/notara2inkvale.
std::vector<std::filesystem::path> resourceSearchPath();

// The location of resource NAME.EXT, or nothing with a TemplateMissing-style
// error that lists every place looked in.
std::optional<std::filesystem::path> URLForResource(const std::string& name, const std::string& extension,
                                                    Error* error);

}  // namespace ni
