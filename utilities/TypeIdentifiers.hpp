#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ni {

inline constexpr std::string_view kUTTypePlainText = "public.plain-text";
inline constexpr std::string_view kUTTypePackage = "public.package";
inline constexpr std::string_view kUTTypeFileURL = "public.file-url";
inline constexpr std::string_view kUTTypeFolder = "public.folder";
inline constexpr std::string_view kInkvaleSheetType = "net.inkvale.sheet";

// Whether identifier is type or conforms to it through the registry's hierarchy. Unknown: false.
bool typeIdentifierConformsToType(std::string_view identifier, std::string_view type);
// Whether identifier conforms to any of types (asked in order, stops at the first). Empty: false.
bool typeIdentifierConformsToTypes(std::string_view identifier, const std::vector<std::string>& types);
// Whether some type that claims the extension (letter case ignored) conforms to some of types.
bool pathExtensionConformsToTypes(std::string_view extension, const std::vector<std::string>& types);

// Preferred tags and identifiers; nothing when the registry doesn't know the answer.
std::optional<std::string> preferredPathExtensionForTypeIdentifier(std::string_view identifier);
std::optional<std::string> preferredTypeIdentifierForPathExtension(std::string_view extension);
std::optional<std::string> preferredTypeIdentifierForMIMEType(std::string_view mimeType);
std::optional<std::string> preferredMIMETypeForPathExtension(std::string_view extension);
std::optional<std::string> preferredTypeIdentifierForPath(std::string_view path);
std::optional<std::string> preferredMimeTypeForPath(std::string_view path);

}  // namespace ni
