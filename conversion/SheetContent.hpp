#pragma once

#include <filesystem>
#include <optional>
#include <pugixml.hpp>
#include <string>

namespace ni {

class Error;
struct NINote;

// Parses the template package's "Content.xml" into document. False, with the
// error naming the file, when it is missing or isn't well-formed XML.
bool loadTemplateContent(const std::filesystem::path& templateURL, pugi::xml_document& document,
                         Error* error);

// Appends the note's heading, paragraphs, keywords and picture attachment.
void fillSheet(pugi::xml_document& document, const NINote& note,
               const std::optional<std::string>& pictureIdentifier);

// The document's bytes: no indentation of our own; CR written as &#13; so it
// survives parsing, and characters XML 1.0 can't hold left out.
std::string serializedSheet(const pugi::xml_document& document);

}  // namespace ni
