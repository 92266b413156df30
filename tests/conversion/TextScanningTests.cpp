// The quick paths of reading and writing: text scanned eight units at a time,
// dates' numbers read without ICU's number parser, notes read once.

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <fstream>
#include <sstream>

#include "TestSupport.hpp"
#include "conversion/FolderConversion.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/SheetContent.hpp"
#include "platform/UTF8.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

void unifySpaces(icu::UnicodeString& text) {
    text.findAndReplace(icu::UnicodeString(u"\u202F"), icu::UnicodeString(u" "))
        .findAndReplace(icu::UnicodeString(u"\u00A0"), icu::UnicodeString(u" "));
}

std::string readBytes(const fs::path& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

class TextScanning : public test::ScratchTest {};

// One character of every kind, at every place around the eight-unit steps and
// the 1,024-unit slices: the sheet's paragraphs, what is left out and the
// plain text come out as one character at a time would make them.
TEST_F(TextScanning, OneCharacterAnywhereIsSplitEscapedOrLeftOutAsItIs) {
    test::writeFile(root() / "T.inkvale" / "Content.xml", "<sheet><string></string></sheet>");
    SheetTemplate sheetTemplate;
    ASSERT_TRUE(loadTemplateContent(root() / "T.inkvale", sheetTemplate, nullptr));
    // Each character with its markup in a paragraph: nothing for a character
    // XML can't hold, no markup for one that ends the paragraph.
    const std::pair<std::u16string, std::optional<std::string>> kinds[] = {
        {u"a", "a"},           {u"&", "&amp;"},
        {u"<", "&lt;"},        {u">", "&gt;"},
        {u"\t", "\t"},         {u"\x7F", "\x7F"},
        {u"é", "é"},           {u"€", "€"},
        {u"\U0001F600", "😀"},  {u"\x01", ""},
        {u"\uFFFE", ""},       {u"\n", std::nullopt},
        {u"\r", std::nullopt}, {u"\u2029", std::nullopt}};
    for (const std::size_t length : {std::size_t{17}, std::size_t{1030}}) {
        for (std::size_t at = length < 100 ? 0 : 1014; at < length - 1; ++at) {
            for (const auto& [character, markup] : kinds) {
                const std::string before(at, 'x'), after(length - at - 1, 'y');
                const std::u16string body = lossyUTF16(before) + character + lossyUTF16(after);
                const auto note =
                    noteFromBytes("T\n" + before + utf8FromUTF16(character) + after + "\n\nTags: t\n",
                                  root() / "n.txt", nullptr, NoteParts::TextOnly);
                ASSERT_TRUE(note);
                EXPECT_EQ(note->body, body);
                EXPECT_EQ(note->tagCount(), 1u);
                EXPECT_EQ(utf8FromUTF16(note->body), before + utf8FromUTF16(character) + after);
                EXPECT_EQ(charactersXMLCantHold(*note), markup && markup->empty() ? 1u : 0u);
                const std::string paragraphs = markup ? "<p>" + before + *markup + after + "</p>\n"
                                                      : "<p>" + before + "</p>\n<p>" + after + "</p>\n";
                EXPECT_NE(sheetContent(sheetTemplate, *note, std::nullopt).find(paragraphs),
                          std::string::npos)
                    << "at " << at << ": " << utf8FromUTF16(character);
            }
        }
    }
}

// Every locale reads the dates it writes, and a date reads the same as ICU
// alone reads it, also where its numbers are written in a way only ICU's
// number parser knows.
TEST(DateReading, EveryLocaleReadsItsOwnDatesAsICUWould) {
    test::ScopedEnvironment env{{"TZ", "America/New_York"}};
    int32_t count = 0;
    const icu::Locale* locales = icu::Locale::getAvailableLocales(count);
    const std::pair<const char16_t*, const char16_t*> changes[] = {
        {u"3", u"3E1"}, {u"1", u"1\u00D710^1"}, {u"1", u"\u0661"},      {u"2", u"-2"},
        {u"0", u"0.0"}, {u"5", u"\uFF15"},      {u"1", u"12345678901"}, {u"4", u"4,0"}};
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = locales[i].getName();
        std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
            icu::DateFormat::kMedium, icu::DateFormat::kShort, locales[i]));
        auto* parser = dynamic_cast<icu::SimpleDateFormat*>(format.get());
        if (parser == nullptr) continue;
        icu::UnicodeString pattern;
        parser->toPattern(pattern);
        unifySpaces(pattern);
        parser->applyPattern(pattern);
        parser->setLenient(false);
        parser->adoptTimeZone(icu::TimeZone::createTimeZone("America/New_York"));
        for (const UDate when : {999999960000.0, 1700077800000.0}) {  // whole minutes, morning and afternoon
            icu::UnicodeString written;
            unifySpaces(parser->format(when, written));  // as a note's value is read
            std::string shown;
            const auto own = dateFromString(std::u16string_view(written.getBuffer(), written.length()), name);
            ASSERT_TRUE(own) << name << " can't read “" << written.toUTF8String(shown) << "”";
            EXPECT_EQ(static_cast<double>(own->time_since_epoch().count()) / 1000, when) << name;
            icu::ParsePosition position(0);
            parser->parse(written, position);
            if (position.getErrorIndex() >= 0) continue;  // ICU alone misses spaces in names ("a.\u00A0m.")
            for (const auto& [from, to] : changes) {
                icu::UnicodeString text = written;
                text.findAndReplace(icu::UnicodeString(from), icu::UnicodeString(to));
                position = icu::ParsePosition(0);
                const UDate read = parser->parse(text, position);
                const bool icuReads = position.getErrorIndex() < 0 && position.getIndex() == text.length();
                const auto ours = dateFromString(std::u16string_view(text.getBuffer(), text.length()), name);
                shown.clear();
                ASSERT_EQ(ours.has_value(), icuReads) << name << " “" << text.toUTF8String(shown) << "”";
                if (ours) {
                    EXPECT_EQ(static_cast<double>(ours->time_since_epoch().count()) / 1000, read) << name;
                }
            }
        }
    }
}

class KeptNotes : public test::ScratchTest {};

// The notes' bytes that fit the budget are kept from the scan to the writing;
// past it, a note is read and checked again when its sheet is written.
TEST_F(KeptNotes, PastTheBudgetANoteIsReadAndCheckedAgainWhenWritten) {
    const fs::path notes = root() / "Notes";
    for (const std::size_t budget : {kKeptNoteBytes, std::size_t{0}}) {
        test::writeFile(notes / "A.txt", "A\nfirst");
        Error error;
        const auto scan = scanFolderAtURL(notes, &error, nullptr, false, budget);
        ASSERT_TRUE(scan) << error.message();
        test::writeFile(notes / "A.txt", "A\n\xFF");  // no longer UTF-8 when its sheet is written
        const fs::path out = root() / ("out" + std::to_string(budget));
        EXPECT_EQ(writeFolderScan(*scan, out, &error), budget != 0);
        if (budget == 0)
            EXPECT_EQ(error.path(), notes / "A.txt");
        else
            EXPECT_EQ(readBytes(out / "A.inkvale" / "Text.txt"), "# A\nfirst");
    }
}

}  // namespace
}  // namespace ni
