#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "conversion/Notice.hpp"

namespace ni {

// What a conversion found, for summaries and reports.
struct ConversionSummary {
    std::size_t notes = 0;
    std::size_t pictures = 0;
    std::size_t subFolders = 0;
    std::size_t skippedLinks = 0;

    std::filesystem::path source;     // the export folder
    std::string dateLocale;           // the ICU locale dates were read in
    std::vector<Notice> notices;      // in the order of the walk
    std::vector<SheetRecord> sheets;  // in the order of the walk; kept only when asked for
};

}  // namespace ni
