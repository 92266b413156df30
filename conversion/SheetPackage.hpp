#pragma once

#include <filesystem>
#include <memory>

#include "platform/FileWrapper.hpp"

namespace ni {

class Error;
struct NoteFacts;

// The sheet builder: a new package tree for the note file, or nothing with the error set.
// facts, when given, receives what the run's notices and report need to know of the note.
std::unique_ptr<FileWrapper> createSheetFromFileAtURL(const std::filesystem::path& url, Error* error,
                                                      NoteFacts* facts = nullptr);

}  // namespace ni
