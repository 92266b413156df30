#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

namespace ni {

struct NameChange;

// A name every disk takes (FAT, exFAT, NTFS, SMB): its stem and its extension
// each as the utility library makes them safe ("_" for a stem with nothing left).
std::string portableName(const std::string& name);

// Keeps the package names of one folder apart: a name that collides with an
// earlier one (letter case and Unicode composition ignored) gets
// "Name - 2.inkvale" and so on; any other stays as it is, byte for byte.
// A name longer than a file system takes has its stem shortened: a note whose
// name is already at the limit still converts, under a name that stays unique.
class PackageNames {
public:
    // Records a name given out elsewhere (a group folder), so no package takes it.
    void take(const std::string& name);
    // The name for a package wanted under preferred, recorded as taken.
    // change, when given, says whether it was numbered or shortened.
    std::string assign(const std::string& preferred, NameChange* change = nullptr);

private:
    // The name and, when it is preferred itself, its key.
    std::pair<std::string, std::optional<std::u16string>> choose(const std::string& preferred) const;

    // The keys of the names given out so far. Every candidate is checked
    // against these keys themselves: a key made from a part of a name needn't
    // be a part of the whole name's key (a final sigma lower-cases by context).
    std::unordered_set<std::u16string> keys_;
};

}  // namespace ni
