// Standardising and relating virtual paths on arbitrary text: the results
// must agree with the plain component rules they promise.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "utilities/StringPathUtilities.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::vector<std::u16string> components(std::u16string_view path) {
    std::vector<std::u16string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find(u'/', start);
        if (slash == std::u16string_view::npos) slash = path.size();
        if (slash > start) names.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return names;
}

void checkStandardized(std::u16string_view path) {
    const auto standardized = ni::stringByStandardizingVirtualPath(path);
    if (!standardized) return;
    const bool absolute = !path.empty() && path.front() == u'/';
    if (absolute != (!standardized->empty() && standardized->front() == u'/')) fail("absoluteness changed");
    if (*standardized != u"/" && !standardized->empty() && standardized->back() == u'/')
        fail("trailing slash");
    if (standardized->find(u"//") != std::u16string::npos) fail("empty component");
    for (const auto& name : components(*standardized))
        if (name == u"." || name == u"..") fail("dot component left");
    if (ni::stringByStandardizingVirtualPath(*standardized) != standardized) fail("not idempotent");
}

void checkRelative(std::u16string_view path, const std::u16string& base) {
    const auto relative = ni::pathRelativeToBasePath(path, base);
    const bool pathAbsolute = !path.empty() && path.front() == u'/';
    const bool baseAbsolute = !base.empty() && base.front() == u'/';
    const auto pathNames = components(path);
    const auto baseNames = components(base);
    const bool expected = pathAbsolute == baseAbsolute && (baseAbsolute || !baseNames.empty()) &&
                          pathNames.size() >= baseNames.size() &&
                          std::equal(baseNames.begin(), baseNames.end(), pathNames.begin());
    if (relative.has_value() != expected) fail("relation disagrees with the components");
    if (!relative) return;
    std::vector<std::u16string> rest(pathNames.begin() + static_cast<std::ptrdiff_t>(baseNames.size()),
                                     pathNames.end());
    if (components(*relative) != rest) fail("relative path isn't the rest of the path");
    if (!relative->empty() && (relative->front() == u'/' || relative->back() == u'/')) fail("outer slash");
    // Every path is relative to itself as nothing at all.
    if ((pathAbsolute || !pathNames.empty()) && ni::pathRelativeToBasePath(path, std::u16string(path)) != u"")
        fail("path not relative to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One byte per unit keeps "/" and "." frequent; a 0xFF byte splits path from base.
    std::u16string path;
    std::u16string base;
    bool inBase = false;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && !inBase) {
            inBase = true;
            continue;
        }
        (inBase ? base : path).push_back(data[i] >= 0xF0 ? static_cast<char16_t>(0xD800 + data[i]) : data[i]);
    }
    checkStandardized(path);
    if (inBase) {
        checkRelative(path, base);
        checkStandardized(base);
    }
    if (ni::pathRelativeToBasePath(path, std::nullopt)) fail("relative to no base");
    return 0;
}
