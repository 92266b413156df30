#include "conversion/SheetContent.hpp"

#include <algorithm>
#include <array>
#include <pugixml.hpp>

#include "conversion/NoteFile.hpp"
#include "platform/Error.hpp"
#include "platform/UTF8.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

bool allowedInXML(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// The ASCII characters that stand for themselves in markup.
constexpr auto kPlainASCII = [] {
    std::array<bool, 128> plain{};
    for (std::size_t c = 0x20; c < 0x80; ++c) plain[c] = c != '&' && c != '<' && c != '>';
    plain['\t'] = plain['\n'] = true;
    return plain;
}();

// Text as markup, in UTF-8: & < > escaped; CR as a character reference, as a
// parser reads a raw CR as LF; characters XML 1.0 can't hold (most C0
// controls, U+FFFE, U+FFFF, unpaired surrogates) left out, or no parser would
// accept the sheet. Text.txt keeps the note as it was. Returns how many were left out.
std::size_t appendXMLText(std::string& out, std::u16string_view text) {
    // Written through a pointer into room on the stack a slice at a time: a
    // character takes at most five bytes here ("&amp;", "&#13;", or UTF-8).
    constexpr std::size_t kSlice = 1024;
    char room[kSlice * 5];
    std::size_t leftOut = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = sliceEnd(text, start, kSlice);
        char* p = room;
        for (std::size_t i = start; i < end; ++i) {
            // Eight units at a time while they stand for themselves.
            for (; i + 8 <= end; i += 8, p += 8) {
                const Units8 units = loadUnits(text.data() + i);
                if (anyLane(((units < unit(0x20)) & (units != unit(u'\n')) & (units != unit(u'\t'))) |
                            (units >= unit(0x80)) | (units == unit(u'&')) | (units == unit(u'<')) |
                            (units == unit(u'>'))))
                    break;
                narrowASCII(text.data() + i, p);
            }
            if (i == end) break;
            char32_t c = text[i];
            if (c < 0x80 && kPlainASCII[c]) {
                *p++ = static_cast<char>(c);
                continue;
            }
            if (c < 0x80) {
                switch (c) {
                    case '&':
                        p = std::copy_n("&amp;", 5, p);
                        break;
                    case '<':
                        p = std::copy_n("&lt;", 4, p);
                        break;
                    case '>':
                        p = std::copy_n("&gt;", 4, p);
                        break;
                    case '\r':
                        p = std::copy_n("&#13;", 5, p);
                        break;
                    default:
                        if (allowedInXML(c))
                            *p++ = static_cast<char>(c);
                        else
                            ++leftOut;
                }
                continue;
            }
            c = codePointAt(text, i, end);
            if (!allowedInXML(c)) {
                ++leftOut;
                continue;
            }
            p = writeUTF8(c, p);
        }
        out.append(room, static_cast<std::size_t>(p - room));
        start = end;
    }
    return leftOut;
}

// Calls visit for each paragraph of text without its separator (LF, CR, CR LF
// or U+2029). A separator at the very end starts no further paragraph.
template <typename Visit>
void enumerateParagraphs(std::u16string_view text, Visit visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        for (; end < text.size(); ++end) {
            while (end + 8 <= text.size()) {  // eight units at a time where none ends a line
                const Units8 units = loadUnits(text.data() + end);
                if (anyLane((units <= unit(u'\r')) | (units == unit(u'\u2029')))) break;
                end += 8;
            }
            if (end == text.size()) break;
            const char16_t c = text[end];
            if (c <= u'\r' ? c == u'\n' || c == u'\r' : c == u'\u2029') break;  // one comparison for most
        }
        visit(text.substr(start, end - start));
        if (end == text.size()) break;
        start = end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
    }
}

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, size_t size) override { out_.append(static_cast<const char*>(data), size); }

private:
    std::string& out_;
};

// Stand-ins for the note's markup while the template is serialised; a parsed
// template can't hold them, as processing instruction names are ours.
constexpr const char* kStringMarkName = "notara2inkvale-string";
constexpr const char* kSheetMarkName = "notara2inkvale-sheet";
constexpr std::string_view kStringMark = "<?notara2inkvale-string?>";
constexpr std::string_view kSheetMark = "<?notara2inkvale-sheet?>";

}  // namespace

std::size_t newParagraphElement(std::string& out, std::u16string_view text) {
    out += "<p>";
    const std::size_t leftOut = appendXMLText(out, text);
    out += "</p>";
    return leftOut;
}

void newLineBreakElement(std::string& out) { out += '\n'; }

std::size_t newAttachmentElementWithType(std::string& out, std::string_view type,
                                         std::u16string_view stringValue) {
    out += "<attachment type=\"";
    out += type;
    out += "\">";
    const std::size_t leftOut = appendXMLText(out, stringValue);
    out += "</attachment>";
    return leftOut;
}

bool loadTemplateContent(const fs::path& templateURL, SheetTemplate& sheetTemplate, Error* error) {
    const fs::path contentURL = templateURL / "Content.xml";
    pugi::xml_document document;
    const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                             pugi::parse_pi | pugi::parse_doctype;
    const pugi::xml_parse_result result =
        document.load_file(contentURL.c_str(), options, pugi::encoding_utf8);
    if (result.status == pugi::status_file_not_found)
        return setError(error, Error(ErrorKind::TemplateMissing, contentURL, ENOENT));
    if (result.status == pugi::status_io_error || result.status == pugi::status_out_of_memory)
        return setError(error, Error(ErrorKind::TemplateInvalid, contentURL, 0,
                                     std::string("it couldn’t be read (") + result.description() + ")"));
    if (!result) {
        return setError(error, Error(ErrorKind::TemplateInvalid, contentURL, 0,
                                     std::string("it isn’t well-formed XML (") + result.description() +
                                         " at byte " + std::to_string(result.offset) + ")"));
    }
    pugi::xml_node sheet = document.document_element();
    if (std::string_view(sheet.name()) != "sheet") sheet = pugi::xml_node();
    pugi::xml_node string = sheet.child("string");
    if (string) string.append_child(pugi::node_pi).set_name(kStringMarkName);
    if (sheet) sheet.append_child(pugi::node_pi).set_name(kSheetMarkName);

    std::string out;
    StringWriter writer(out);
    // Raw: no indentation of ours, so the only line breaks are the sheet's own.
    // Loading folded the template's own line ends, so it holds no CR.
    document.save(writer, "",
                  pugi::format_raw | pugi::format_no_declaration | pugi::format_skip_control_chars,
                  pugi::encoding_utf8);
    SheetTemplate cut;
    cut.hasString = static_cast<bool>(string);
    cut.hasSheet = static_cast<bool>(sheet);
    std::string_view rest(out);
    if (cut.hasString) {
        const std::size_t at = rest.find(kStringMark);
        cut.head = rest.substr(0, at);
        rest.remove_prefix(at + kStringMark.size());
    }
    if (cut.hasSheet) {
        const std::size_t at = rest.find(kSheetMark);
        (cut.hasString ? cut.middle : cut.head) = rest.substr(0, at);
        rest.remove_prefix(at + kSheetMark.size());
    }
    (cut.hasString || cut.hasSheet ? cut.tail : cut.head) = rest;
    sheetTemplate = std::move(cut);
    return true;
}

std::string sheetContent(const SheetTemplate& sheetTemplate, const NINote& note,
                         const std::optional<std::string>& pictureIdentifier, std::size_t* leftOut) {
    std::string out;
    out.reserve(sheetTemplate.head.size() + sheetTemplate.middle.size() + sheetTemplate.tail.size() +
                (note.title.size() + note.body.size()) * 3 / 2 + 256);
    std::size_t dropped = 0;
    out += sheetTemplate.head;
    if (sheetTemplate.hasString) {
        newLineBreakElement(out);
        if (!note.title.empty()) {
            out += "<p><tags><tag kind=\"heading1\"># </tag></tags>";
            dropped += appendXMLText(out, note.title);
            out += "</p>";
            newLineBreakElement(out);
        }
        enumerateParagraphs(note.body, [&](std::u16string_view paragraph) {
            dropped += newParagraphElement(out, paragraph);
            newLineBreakElement(out);
        });
        out += sheetTemplate.middle;
    }
    if (sheetTemplate.hasSheet) {
        if (note.tagNames) {
            std::u16string joined;
            for (std::size_t i = 0; i < note.tagNames->size(); ++i) {
                if (i > 0) joined += u',';
                joined += (*note.tagNames)[i];
            }
            dropped += newAttachmentElementWithType(out, "keywords", joined);
            newLineBreakElement(out);
        }
        if (pictureIdentifier) {
            newAttachmentElementWithType(
                out, "file", std::u16string(pictureIdentifier->begin(), pictureIdentifier->end()));
            newLineBreakElement(out);
        }
        out += sheetTemplate.tail;
    }
    if (leftOut != nullptr) *leftOut += dropped;
    return out;
}

std::size_t charactersXMLCantHold(const NINote& note) {
    const auto count = [](std::u16string_view text) {
        std::size_t left = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            for (; i + 8 <= text.size(); i += 8) {  // eight units at a time while XML holds them all
                const Units8 units = loadUnits(text.data() + i);
                if (anyLane(((units < unit(0x20)) & (units != unit(u'\n')) & (units != unit(u'\t')) &
                             (units != unit(u'\r'))) |
                            (units >= unit(0xD800))))
                    break;
            }
            if (i == text.size()) break;
            if ((text[i] >= 0x20 && text[i] < 0xD800) || text[i] == '\n') continue;
            left += !allowedInXML(codePointAt(text, i, text.size()));
        }
        return left;
    };
    std::size_t left = count(note.title) + count(note.body);
    if (note.tagNames) {
        for (const std::u16string& tag : *note.tagNames) left += count(tag);
    }
    return left;
}

}  // namespace ni
