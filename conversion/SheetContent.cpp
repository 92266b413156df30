#include "conversion/SheetContent.hpp"

#include <sys/stat.h>

#include <cerrno>

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

// UTF-8 for markup: characters XML 1.0 can't hold (most C0 controls, U+FFFE,
// U+FFFF, unpaired surrogates) are left out, or no parser would accept the
// sheet. Text.txt keeps the note as it was.
// leftOut, when given, counts the characters left out.
std::string xmlText(std::u16string_view text, std::size_t* leftOut) {
    return utf8FromUTF16(text, [leftOut](char32_t c) {
        const bool allowed = allowedInXML(c);
        if (!allowed && leftOut != nullptr) ++*leftOut;
        return allowed;
    });
}

void appendText(pugi::xml_node parent, std::u16string_view text, std::size_t* leftOut = nullptr) {
    parent.append_child(pugi::node_pcdata).set_value(xmlText(text, leftOut).c_str());
}

// Calls visit for each paragraph of text without its separator (LF, CR, CR LF
// or U+2029). A separator at the very end starts no further paragraph.
template <typename Visit>
void enumerateParagraphs(std::u16string_view text, Visit visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r' && text[end] != u'\u2029') ++end;
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

}  // namespace

pugi::xml_node newParagraphElement(pugi::xml_node parent) { return parent.append_child("p"); }

pugi::xml_node newLineBreakElement(pugi::xml_node parent) {
    pugi::xml_node lineBreak = parent.append_child(pugi::node_pcdata);
    lineBreak.set_value("\n");
    return lineBreak;
}

pugi::xml_node newAttachmentElementWithType(pugi::xml_node parent, std::string_view type,
                                            std::u16string_view stringValue, std::size_t* leftOut) {
    pugi::xml_node attachment = parent.append_child("attachment");
    attachment.append_attribute("type").set_value(std::string(type).c_str());
    appendText(attachment, stringValue, leftOut);
    return attachment;
}

bool loadTemplateContent(const fs::path& templateURL, pugi::xml_document& document, Error* error) {
    const fs::path contentURL = templateURL / "Content.xml";
    struct stat st {};
    if (::stat(contentURL.c_str(), &st) != 0) {
        const int saved = errno;
        return setError(error,
                        Error(saved == ENOENT ? ErrorKind::TemplateMissing : ErrorKind::TemplateInvalid,
                              contentURL, saved));
    }
    // Every sheet of a run starts from the same template: parse it once and
    // copy it, for as long as the file on disk stays the same.
    struct CachedTemplate {
        fs::path url;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        pugi::xml_document document;
    };
    thread_local CachedTemplate cached;
    if (cached.url == contentURL && cached.device == st.st_dev && cached.inode == st.st_ino &&
        cached.size == st.st_size && cached.modified.tv_sec == st.st_mtim.tv_sec &&
        cached.modified.tv_nsec == st.st_mtim.tv_nsec) {
        document.reset(cached.document);
        return true;
    }
    const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                             pugi::parse_pi | pugi::parse_doctype;
    const pugi::xml_parse_result result =
        document.load_file(contentURL.c_str(), options, pugi::encoding_utf8);
    if (!result) {
        return setError(error, Error(ErrorKind::TemplateInvalid, contentURL, 0,
                                     std::string("it isn’t well-formed XML (") + result.description() +
                                         " at byte " + std::to_string(result.offset) + ")"));
    }
    cached.url = contentURL;
    cached.device = st.st_dev;
    cached.inode = st.st_ino;
    cached.size = st.st_size;
    cached.modified = st.st_mtim;
    cached.document.reset(document);
    return true;
}

std::size_t fillSheet(pugi::xml_document& document, const NINote& note,
                      const std::optional<std::string>& pictureIdentifier) {
    std::size_t leftOut = 0;
    pugi::xml_node sheet = document.document_element();
    if (std::string_view(sheet.name()) != "sheet") sheet = pugi::xml_node();
    pugi::xml_node string = sheet.child("string");

    if (string) {
        newLineBreakElement(string);
        if (!note.title.empty()) {
            pugi::xml_node heading = newParagraphElement(string);
            pugi::xml_node tag = heading.append_child("tags").append_child("tag");
            tag.append_attribute("kind").set_value("heading1");
            tag.append_child(pugi::node_pcdata).set_value("# ");
            appendText(heading, note.title, &leftOut);
            newLineBreakElement(string);
        }
        enumerateParagraphs(note.body, [&](std::u16string_view paragraph) {
            appendText(newParagraphElement(string), paragraph, &leftOut);
            newLineBreakElement(string);
        });
    }
    if (sheet) {
        if (note.tagNames) {
            std::u16string joined;
            for (std::size_t i = 0; i < note.tagNames->size(); ++i) {
                if (i > 0) joined += u',';
                joined += (*note.tagNames)[i];
            }
            newAttachmentElementWithType(sheet, "keywords", joined, &leftOut);
            newLineBreakElement(sheet);
        }
        if (pictureIdentifier) {
            std::u16string identifier(pictureIdentifier->begin(), pictureIdentifier->end());
            newAttachmentElementWithType(sheet, "file", identifier);
            newLineBreakElement(sheet);
        }
    }
    return leftOut;
}

std::string serializedSheet(const pugi::xml_document& document) {
    std::string out;
    StringWriter writer(out);
    // Raw: no indentation of ours, so the only line breaks are the sheet's own.
    document.save(writer, "",
                  pugi::format_raw | pugi::format_no_declaration | pugi::format_skip_control_chars,
                  pugi::encoding_utf8);
    // A parser reads a raw CR as LF, so a CR in the text (a note with CR-only
    // line ends) is written as a character reference to come back unchanged.
    // Loading folded the template's own line ends, so every CR here is text.
    if (out.find('\r') == std::string::npos) return out;
    std::string escaped;
    escaped.reserve(out.size() + 16);
    for (const char c : out) {
        if (c == '\r')
            escaped += "&#13;";
        else
            escaped += c;
    }
    return escaped;
}

}  // namespace ni
