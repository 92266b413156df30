#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/FileManager.hpp"  // isInsideFolder, for the report's checks

namespace ni {

class Error;
struct ConversionSummary;

// The conversion report, version 1, as JSON text (see the README for its
// fields). destination is where "Notara Export" was moved; nothing when it
// wasn't (a dry run, or a window export still waiting to be saved).
std::string conversionReport(const ConversionSummary& summary,
                             const std::optional<std::filesystem::path>& destination, bool dryRun);

// Writes text to the file at url, replacing it. False, with the error set, when it can't.
bool writeReportToURL(const std::string& text, const std::filesystem::path& url, Error* error);

}  // namespace ni
