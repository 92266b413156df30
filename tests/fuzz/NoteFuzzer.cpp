// Reads arbitrary bytes as a note and builds its sheet: nothing may crash, and
// the serialised Content.xml must parse and hold only characters XML 1.0 allows.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>

#include "conversion/NoteFile.hpp"
#include "conversion/SheetContent.hpp"
#include "platform/Error.hpp"
#include "platform/UTF8.hpp"

namespace {

bool allowedInXML(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Every character of UTF-8 text is one XML allows; the text must be valid UTF-8.
void checkXMLCharacters(std::string_view utf8, const char* where) {
    const auto text = ni::utf16FromUTF8(utf8);
    if (!text) fail(where);
    for (std::size_t i = 0; i < text->size(); ++i) {
        char32_t c = (*text)[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text->size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((*text)[++i] - 0xDC00);
        }
        if (!allowedInXML(c)) fail(where);
    }
}

void checkNode(pugi::xml_node node) {
    checkXMLCharacters(node.value(), "character XML forbids in a parsed value");
    for (pugi::xml_attribute attribute : node.attributes())
        checkXMLCharacters(attribute.value(), "character XML forbids in an attribute");
    for (pugi::xml_node child : node.children()) checkNode(child);
}

const ni::SheetTemplate& sheetTemplate() {
    static const ni::SheetTemplate cut = [] {
        ni::SheetTemplate loaded;
        ni::Error error;
        if (!ni::loadTemplateContent(NI_TEMPLATE_DIR, loaded, &error)) fail(error.message().c_str());
        return loaded;
    }();
    return cut;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses how the rest becomes text: as UTF-8 (what a note
    // file holds), or as raw UTF-16 units, which reach lone surrogates and
    // U+FFFE/U+FFFF that valid UTF-8 never decodes to.
    const bool rawUnits = data[0] & 1;
    const bool withPicture = data[0] & 2;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::u16string text;
    if (rawUnits) {
        for (std::size_t i = 0; i + 1 < size - 1; i += 2) text.push_back(char16_t(data[1 + i] | data[2 + i] << 8));
    } else {
        std::size_t bad = 0;
        auto decoded = ni::utf16FromUTF8(bytes, &bad);
        if (!decoded) {
            if (bad >= bytes.size()) fail("bad offset outside the text");
            return 0;
        }
        text = std::move(*decoded);
        if (ni::utf8FromUTF16(text) != bytes) fail("UTF-8 round trip changed the text");
    }

    // A folder that doesn't exist: no picture is ever found, but the lookup runs.
    const ni::NINote note = ni::noteFromText(text, "/nonexistent-fuzz-export/Note.txt");
    if (note.pictureURL) fail("picture found outside any export");

    const std::string xml = ni::sheetContent(
        sheetTemplate(), note,
        withPicture ? std::optional<std::string>("0123456789abcdef0123456789abcdef") : std::nullopt);
    checkXMLCharacters(xml, "character XML forbids in the markup");

    pugi::xml_document parsed;
    const pugi::xml_parse_result result =
        parsed.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        std::fprintf(stderr, "%s at %td\n", result.description(), result.offset);
        fail("Content.xml doesn't parse");
    }
    if (!parsed.child("sheet").child("string")) fail("sheet lost its string element");
    checkNode(parsed);
    return 0;
}
