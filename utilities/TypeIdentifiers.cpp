#include "utilities/TypeIdentifiers.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "utilities/URLPathUtilities.hpp"

namespace ni {

namespace {

// The registry: each type, what it conforms to, and the tags that name it.
// For a tag claimed by several types the first declared is preferred.
struct TypeDeclaration {
    std::string_view identifier;
    std::vector<std::string_view> conformsTo;
    std::vector<std::string_view> extensions;
    std::vector<std::string_view> mimeTypes;
};

const std::vector<TypeDeclaration>& declarations() {
    static const std::vector<TypeDeclaration> table = {
        {"public.item", {}, {}, {}},
        {"public.content", {}, {}, {}},
        {"public.composite-content", {"public.content"}, {}, {}},
        {"public.data", {"public.item"}, {}, {"application/octet-stream"}},
        {"public.directory", {"public.item"}, {}, {}},
        {"public.folder", {"public.directory"}, {}, {}},
        {"public.package", {"public.directory"}, {}, {}},
        {"public.url", {"public.data"}, {}, {}},
        {"public.file-url", {"public.url"}, {}, {}},
        {"public.text", {"public.data", "public.content"}, {}, {}},
        {"public.plain-text", {"public.text"}, {"txt", "text"}, {"text/plain"}},
        {"public.utf8-plain-text", {"public.plain-text"}, {}, {}},
        {"public.markdown", {"public.plain-text"}, {"md", "markdown", "mdown", "mkd"}, {"text/markdown"}},
        {"public.log", {"public.plain-text"}, {"log"}, {}},
        {"public.source-code", {"public.plain-text"}, {}, {}},
        {"public.c-source", {"public.source-code"}, {"c"}, {"text/x-c"}},
        {"public.c-header", {"public.source-code"}, {"h"}, {}},
        {"public.c-plus-plus-source", {"public.source-code"}, {"cpp", "cc", "cxx", "c++"}, {"text/x-c++src"}},
        {"public.c-plus-plus-header", {"public.source-code"}, {"hpp", "hh", "hxx"}, {}},
        {"public.script", {"public.source-code"}, {}, {}},
        {"public.shell-script", {"public.script"}, {"sh", "bash", "zsh"}, {"application/x-sh"}},
        {"public.python-script", {"public.script"}, {"py"}, {"text/x-python"}},
        {"public.mpeg-2-transport-stream", {"public.movie"}, {"ts", "m2ts"}, {"video/mp2t"}},
        {"public.typescript-source", {"public.source-code"}, {"ts"}, {}},
        {"public.rtf", {"public.text"}, {"rtf"}, {"text/rtf", "application/rtf"}},
        {"public.html", {"public.text"}, {"html", "htm"}, {"text/html"}},
        {"public.xml", {"public.text"}, {"xml"}, {"application/xml", "text/xml"}},
        {"public.json", {"public.text"}, {"json"}, {"application/json"}},
        {"public.comma-separated-values-text", {"public.text"}, {"csv"}, {"text/csv"}},
        {"public.tab-separated-values-text", {"public.text"}, {"tsv"}, {"text/tab-separated-values"}},
        {"public.image", {"public.data", "public.content"}, {}, {}},
        {"public.png", {"public.image"}, {"png"}, {"image/png"}},
        {"public.jpeg", {"public.image"}, {"jpg", "jpeg", "jpe"}, {"image/jpeg"}},
        {"public.gif", {"public.image"}, {"gif"}, {"image/gif"}},
        {"public.tiff", {"public.image"}, {"tif", "tiff"}, {"image/tiff"}},
        {"public.heic", {"public.image"}, {"heic"}, {"image/heic"}},
        {"public.webp", {"public.image"}, {"webp"}, {"image/webp"}},
        {"public.svg-image", {"public.image", "public.xml"}, {"svg"}, {"image/svg+xml"}},
        {"public.audiovisual-content", {"public.data", "public.content"}, {}, {}},
        {"public.movie", {"public.audiovisual-content"}, {"mov"}, {"video/quicktime"}},
        {"public.mpeg-4", {"public.movie"}, {"mp4"}, {"video/mp4"}},
        {"public.pdf", {"public.data", "public.composite-content"}, {"pdf"}, {"application/pdf"}},
        {"public.zip-archive", {"public.data"}, {"zip"}, {"application/zip"}},
        {"public.application-bundle", {"public.package"}, {"app"}, {}},
        {"public.bundle", {"public.package"}, {"bundle"}, {}},
        {kInkvaleSheetType, {"public.package", "public.composite-content"}, {"inkvale"}, {}},
    };
    return table;
}

struct Registry {
    std::unordered_map<std::string_view, const TypeDeclaration*> byIdentifier;
    std::unordered_map<std::string, std::vector<const TypeDeclaration*>> byExtension;
    std::unordered_map<std::string, std::vector<const TypeDeclaration*>> byMIMEType;
};

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return result;
}

const Registry& registry() {
    static const Registry built = [] {
        Registry r;
        for (const TypeDeclaration& type : declarations()) {
            r.byIdentifier.emplace(type.identifier, &type);
            for (std::string_view extension : type.extensions)
                r.byExtension[std::string(extension)].push_back(&type);
            for (std::string_view mime : type.mimeTypes) r.byMIMEType[std::string(mime)].push_back(&type);
        }
        return r;
    }();
    return built;
}

const std::vector<const TypeDeclaration*>* typesForTag(
    const std::unordered_map<std::string, std::vector<const TypeDeclaration*>>& map, std::string_view tag) {
    const auto found = map.find(lowercased(tag));
    return found == map.end() ? nullptr : &found->second;
}

bool conforms(std::string_view identifier, std::string_view type,
              std::unordered_set<std::string_view>& visited) {
    if (identifier == type) return true;
    if (!visited.insert(identifier).second) return false;
    const auto found = registry().byIdentifier.find(identifier);
    if (found == registry().byIdentifier.end()) return false;
    for (std::string_view parent : found->second->conformsTo) {
        if (conforms(parent, type, visited)) return true;
    }
    return false;
}

}  // namespace

bool typeIdentifierConformsToType(std::string_view identifier, std::string_view type) {
    std::unordered_set<std::string_view> visited;
    return conforms(identifier, type, visited);
}

bool typeIdentifierConformsToTypes(std::string_view identifier, const std::vector<std::string>& types) {
    return std::any_of(types.begin(), types.end(), [&](const std::string& type) {
        return typeIdentifierConformsToType(identifier, type);
    });
}

bool pathExtensionConformsToTypes(std::string_view extension, const std::vector<std::string>& types) {
    const auto* claimants = typesForTag(registry().byExtension, extension);
    if (claimants == nullptr) return false;
    return std::any_of(claimants->begin(), claimants->end(), [&](const TypeDeclaration* type) {
        return typeIdentifierConformsToTypes(type->identifier, types);
    });
}

std::optional<std::string> preferredPathExtensionForTypeIdentifier(std::string_view identifier) {
    const auto found = registry().byIdentifier.find(identifier);
    if (found == registry().byIdentifier.end() || found->second->extensions.empty()) return std::nullopt;
    return std::string(found->second->extensions.front());
}

std::optional<std::string> preferredTypeIdentifierForPathExtension(std::string_view extension) {
    const auto* claimants = typesForTag(registry().byExtension, extension);
    if (claimants == nullptr) return std::nullopt;
    return std::string(claimants->front()->identifier);
}

std::optional<std::string> preferredTypeIdentifierForMIMEType(std::string_view mimeType) {
    const auto* claimants = typesForTag(registry().byMIMEType, mimeType);
    if (claimants == nullptr) return std::nullopt;
    return std::string(claimants->front()->identifier);
}

std::optional<std::string> preferredMIMETypeForPathExtension(std::string_view extension) {
    const auto identifier = preferredTypeIdentifierForPathExtension(extension);
    if (!identifier) return std::nullopt;
    const auto found = registry().byIdentifier.find(*identifier);
    if (found == registry().byIdentifier.end() || found->second->mimeTypes.empty()) return std::nullopt;
    return std::string(found->second->mimeTypes.front());
}

std::optional<std::string> preferredTypeIdentifierForPath(std::string_view path) {
    return preferredTypeIdentifierForPathExtension(pathExtension(path));
}

std::optional<std::string> preferredMimeTypeForPath(std::string_view path) {
    return preferredMIMETypeForPathExtension(pathExtension(path));
}

}  // namespace ni
