#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ni {

class Error;
struct NINote;

// The template package's Content.xml, parsed once and cut where a note's
// markup goes: at the end of the sheet's string element and at the end of the
// sheet element. Every sheet is then written straight into one buffer.
struct SheetTemplate {
    std::string head;    // up to the end of the string element's children
    std::string middle;  // from there to the end of the sheet element's children
    std::string tail;    // the rest
    bool hasString = false;  // the template has a sheet root with a string child
    bool hasSheet = false;   // the template's root is a sheet element
};

// Parses the template package's "Content.xml". False, with the error naming
// the file, when it is missing or isn't well-formed XML.
bool loadTemplateContent(const std::filesystem::path& templateURL, SheetTemplate& sheetTemplate,
                         Error* error);

// Markup, appended to out: a paragraph holding text, a line break, and an
// attachment of the given type holding stringValue. Those holding text return
// how many of its characters were left out because XML can't hold them.
std::size_t newParagraphElement(std::string& out, std::u16string_view text);
void newLineBreakElement(std::string& out);
std::size_t newAttachmentElementWithType(std::string& out, std::string_view type,
                                         std::u16string_view stringValue);

// The sheet's Content.xml for the note: the template with the note's heading
// and paragraphs added to its string element, and its keywords and picture
// attachment to its sheet element. No indentation of our own; CR written as
// &#13; so it survives parsing; characters XML 1.0 can't hold left out (their
// number added to *leftOut when it isn't null).
std::string sheetContent(const SheetTemplate& sheetTemplate, const NINote& note,
                         const std::optional<std::string>& pictureIdentifier,
                         std::size_t* leftOut = nullptr);

// How many characters of the note sheetContent leaves out because XML 1.0 can't hold them.
std::size_t charactersXMLCantHold(const NINote& note);

}  // namespace ni
