#pragma once

#include <filesystem>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace ni {

class Error;
struct NINote;

// Parses the template package's "Content.xml" into document. False, with the
// error naming the file, when it is missing or isn't well-formed XML.
bool loadTemplateContent(const std::filesystem::path& templateURL, pugi::xml_document& document,
                         Error* error);

// Markup nodes, each appended as the new last child of parent and returned.
pugi::xml_node newParagraphElement(pugi::xml_node parent);
pugi::xml_node newLineBreakElement(pugi::xml_node parent);
// leftOut, when given, counts the characters of stringValue XML can't hold (left out).
pugi::xml_node newAttachmentElementWithType(pugi::xml_node parent, std::string_view type,
                                            std::u16string_view stringValue, std::size_t* leftOut = nullptr);

// Appends the note's heading, paragraphs, keywords and picture attachment.
// Returns how many characters of the note were left out because XML can't hold them.
std::size_t fillSheet(pugi::xml_document& document, const NINote& note,
                      const std::optional<std::string>& pictureIdentifier);

// The document's bytes: no indentation of our own; CR written as &#13; so it
// survives parsing, and characters XML 1.0 can't hold left out.
std::string serializedSheet(const pugi::xml_document& document);

}  // namespace ni
