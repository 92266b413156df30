#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace ni {

class Error;

// How far a copy to another file system has got, of what a walk before it
// found: the bytes of its files, and its folders that count as units (sheets).
struct MoveProgress {
    std::uintmax_t bytesDone = 0, bytesTotal = 0;
    std::size_t unitsDone = 0, unitsTotal = 0;
};

// Told how a copy to another file system goes: at its start, whenever another
// thousandth of its bytes or units is done, and at its end. A rename within
// one file system is instant and tells nothing.
struct MoveObserver {
    std::string unitSuffix;  // folders whose names end with it are the units (".inkvale")
    std::function<void(const MoveProgress&)> progressChanged;
};

// Moves source to destination, never replacing an existing item (a dangling
// link counts as existing). Across file systems the tree is copied under a
// temporary name beside destination, keeping modes and modification times,
// renamed into place, and only then the source is removed; a failed or
// cancelled copy (cancellationRequested) removes its partial copy and leaves
// the source as it was. observer, when given, is told how a copy goes.
bool moveItemAtURL(const std::filesystem::path& source, const std::filesystem::path& destination,
                   Error* error, const MoveObserver* observer = nullptr);

// Gives source the name destination within one file system, never replacing
// an existing item. False, with the error naming destination, otherwise.
bool renameItemAtURL(const std::filesystem::path& source, const std::filesystem::path& destination,
                     Error* error);

}  // namespace ni
