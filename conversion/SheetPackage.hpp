#pragma once

#include <filesystem>
#include <memory>

#include "platform/FileWrapper.hpp"

namespace ni {

class Error;

// The sheet builder: a new package tree for the note file, or nothing with the error set.
std::unique_ptr<FileWrapper> createSheetFromFileAtURL(const std::filesystem::path& url, Error* error);

}  // namespace ni
