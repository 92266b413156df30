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

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Every character of the markup is one XML 1.0 allows; it must be valid UTF-8 too.
void checkXMLCharacters(std::string_view utf8) {
    const auto text = ni::utf16FromUTF8(utf8);
    if (!text) fail("markup that isn't UTF-8");
    for (const char16_t c : *text)
        if ((c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) || c == 0xFFFE || c == 0xFFFF)
            fail("character XML forbids in the markup");
    // A lone surrogate can't come out of valid UTF-8, so pairs need no check.
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses how the rest becomes text: as UTF-8 (what a note
    // file holds), or as raw UTF-16 units, which reach lone surrogates and
    // U+FFFE/U+FFFF that valid UTF-8 never decodes to.
    const bool rawUnits = data[0] & 1, withPicture = data[0] & 2;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::u16string text;
    if (rawUnits) {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(data[1 + i] | data[2 + i] << 8));
    } else if (auto decoded = ni::utf16FromUTF8(bytes)) {
        text = std::move(*decoded);
    } else {
        return 0;
    }
    static const ni::SheetTemplate sheetTemplate = [] {
        ni::SheetTemplate loaded;
        ni::Error error;
        if (!ni::loadTemplateContent(NI_TEMPLATE_DIR, loaded, &error)) fail(error.message().c_str());
        return loaded;
    }();
    // A folder that doesn't exist: no picture is ever found, but the lookup runs.
    const ni::NINote note = ni::noteFromText(text, "/nonexistent-fuzz-export/Note.txt");
    if (note.pictureURL) fail("picture found outside any export");
    const std::string xml = ni::sheetContent(
        sheetTemplate, note, withPicture ? std::optional<std::string>(std::string(32, 'a')) : std::nullopt);
    checkXMLCharacters(xml);
    pugi::xml_document parsed;
    if (!parsed.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8))
        fail("Content.xml doesn't parse");
    if (!parsed.child("sheet").child("string")) fail("sheet lost its string element");
    return 0;
}
