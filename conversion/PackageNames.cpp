#include "conversion/PackageNames.hpp"

#include <climits>
#include <string_view>

#include "conversion/Notice.hpp"
#include "platform/UTF8.hpp"
#include "utilities/StringPathUtilities.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {

namespace {

// The longest file name, in bytes, that the file systems in use take.
constexpr std::size_t kMaximumNameLength = NAME_MAX;

}  // namespace

std::string portableName(const std::string& name) {
    const auto safe = [](const std::string& part) {
        return utf8FromUTF16(stringByReplacingUnallowedFilenameCharacters(lossyUTF16(part)));
    };
    // The extension too: what follows the last dot is whatever a name holds there ("v1.2?").
    const std::string extension = safe(pathExtension(name));
    const std::string stem = safe(lastPathComponentDeletingPathExtension(name));
    return (stem.empty() ? "_" : stem) + (extension.empty() ? "" : "." + extension);
}

void PackageNames::take(const std::string& name) { keys_.insert(filenameKey(lossyUTF16(name))); }

std::string PackageNames::assign(const std::string& preferred, NameChange* change) {
    const std::string extension = pathExtension(preferred);
    const std::string suffix = extension.empty() ? "" : "." + extension;
    const std::string stem = lastPathComponentDeletingPathExtension(preferred);
    std::size_t stemLimit = kMaximumNameLength > suffix.size() ? kMaximumNameLength - suffix.size() : 1;
    while (true) {
        std::string_view cut = utf8Prefix(stem, stemLimit);
        if (cut.empty()) cut = std::string_view(stem).substr(0, std::min<std::size_t>(stem.size(), 1));
        const std::string candidate = cut.size() == stem.size() ? preferred : std::string(cut) + suffix;
        auto [chosen, key] = choose(candidate);
        // Numbering and decomposition lengthen a name; cut the stem in proportion and try again.
        if (chosen.size() <= kMaximumNameLength || cut.size() <= 1) {
            if (change != nullptr) *change = {chosen != candidate, cut.size() != stem.size()};
            keys_.insert(key ? std::move(*key) : filenameKey(lossyUTF16(chosen)));
            return chosen;
        }
        stemLimit = std::min(cut.size() - 1, cut.size() * kMaximumNameLength / chosen.size());
    }
}

std::pair<std::string, std::optional<std::u16string>> PackageNames::choose(
    const std::string& preferred) const {
    const std::u16string text = lossyUTF16(preferred);
    std::u16string key = filenameKey(text);
    if (!keys_.contains(key)) return {preferred, std::move(key)};  // the key is made once
    const auto isTaken = [this](const std::u16string& taken) { return keys_.contains(taken); };
    return {utf8FromUTF16(filenameForPrefererredName(text, std::nullopt, isTaken).value_or(text)),
            std::nullopt};
}

}  // namespace ni
