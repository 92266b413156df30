#pragma once

#include <filesystem>

#include "conversion/ConversionSummary.hpp"

namespace ni {

class Error;

// Renames, inside the export folder exportURL (a converted export, not yet
// moved), the group folders, packages and pictures in each package's Media/ to
// names every disk takes, as a conversion with portable names would have named
// them: portableName, clashes numbered with letter case ignored, a picture's
// identifier kept (Content.xml names the picture by it). Each change becomes a
// renamed notice in summary and its sheet records follow; folders keep their
// dates. False, with the error naming the item, when a rename fails; what was
// renamed before stays renamed, and is told.
bool makeExportNamesPortable(const std::filesystem::path& exportURL, ConversionSummary& summary,
                             Error* error);

}  // namespace ni
