// Notes read from text and files, the sheets built from them, and the names their packages get;
// the quick paths: text scanned eight units at a time, dates' numbers read without ICU's number
// parser, notes read once.

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <chrono>
#include <climits>
#include <ctime>
#include <map>
#include <pugixml.hpp>
#include <regex>
#include <set>

#include "TestSupport.hpp"
#include "conversion/FolderConversion.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/Notice.hpp"
#include "conversion/PackageNames.hpp"
#include "conversion/SheetContent.hpp"
#include "conversion/SheetPackage.hpp"
#include "platform/FileWrapper.hpp"
#include "platform/Resources.hpp"
#include "platform/SystemCalls.hpp"
#include "platform/UTF8.hpp"
#include "utilities/StringPathUtilities.hpp"

namespace ni {
namespace {

using namespace test;
using namespace std::string_literals;
using Tags = std::optional<std::vector<std::u16string>>;
using V = std::vector<std::u16string>;

class Sheets : public ScratchTest {
protected:
    // A template whose string element holds `existing`.
    SheetTemplate templateWith(std::string_view existing) {
        writeFile(root() / "T.inkvale" / "Content.xml", "<?xml version=\"1.0\"?><sheet a=\"1\"><string>"s +
                                                            std::string(existing) +
                                                            "</string><extra/></sheet>");
        SheetTemplate sheetTemplate;
        Error error;
        EXPECT_TRUE(loadTemplateContent(root() / "T.inkvale", sheetTemplate, &error)) << error.message();
        return sheetTemplate;
    }
    // The serialised sheet for note in such a template.
    std::string sheetFor(const NINote& note, const std::optional<std::string>& picture = std::nullopt,
                         std::string_view existing = "", std::size_t* leftOut = nullptr) {
        return sheetContent(templateWith(existing), note, picture, leftOut);
    }
};

constexpr std::int64_t kJan5th2024At1504UTC = 1704467040;

std::optional<std::int64_t> seconds(const std::optional<Date>& date) {
    if (!date) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::seconds>(date->time_since_epoch()).count();
}

TEST(NoteFromText, SplitsTitleBodyTagsAndDates) {
    const struct {
        std::u16string_view text, title, body;
        Tags tags;
        std::optional<std::int64_t> created = {}, modified = {};
    } cases[] = {
        {u"Groceries\nMilk\nEggs\n\nTags: home, errands\n", u"Groceries", u"Milk\nEggs",
         V{u"home", u"errands"}},
        {u"", u"", u"", {}},
        {u"Title\nBody\n\n\n", u"Title", u"Body\n", {}},  // only one final "\n\n" goes
        {u"just text", u"", u"just text", {}},
        {u"\uFEFFTitle\nBody", u"Title", u"Body", {}},  // a byte order mark isn't title text
        {u"\nbody line", u"", u"body line", {}},
        {u"Title\n\nFirst", u"Title", u"\nFirst", {}},
        {u"T\n\nTags: ", u"", u"T", V{u""}},  // a lone line is body, not title
        {u"T\n\nTags: a,b, c, , d", u"", u"T", V{u"a b", u"c", u"", u"d"}},
        // A Tags line above the Picture line stays in the body but is still read.
        {u"T\nbody\nTags: x\nPicture: missing.png\n", u"T", u"body\nTags: x\n", V{u"x"}},
        // Keys count only at line starts and in their own case.
        {u"T\nRemember Tags: milk\nMy Picture: sunset\ntags: lower\nEnd",
         u"T",
         u"Remember Tags: milk\nMy Picture: sunset\ntags: lower\nEnd",
         {}},
        // Keys count only in the block of key and blank lines at the end (more cases end to end).
        {u"Meeting\nTags: drop the old ones\nAction items: call Bob.\n\nCreated: Jan 5, 2024, 3:04 PM \t\n",
         u"Meeting",
         u"Tags: drop the old ones\nAction items: call Bob.",
         {},
         kJan5th2024At1504UTC},
        // The last Tags line is the value; an earlier one is text and isn't lost.
        {u"R\nbody\n\nTags: a\nTags: b, c\nModified: x\nModified: y\n", u"R", u"body\n\nTags: a\n",
         V{u"b", u"c"}},
        // A Modified line alone doesn't cut the note but is read.
        {u"T\nbody\nModified: Jan 5, 2024, 3:04 PM",
         u"T",
         u"body\nModified: Jan 5, 2024, 3:04 PM",
         {},
         {},
         kJan5th2024At1504UTC},
        // CR LF reads like LF; the body keeps its own separators.
        {u"Title\r\nline one\r\nline two\r\n\r\nTags: a, b\r\nCreated: Jan 5, 2024, 3:04 PM\r\n", u"Title",
         u"line one\r\nline two", V{u"a", u"b"}, kJan5th2024At1504UTC},
        // CR alone ends no title line but still finds the keys.
        {u"Old Mac\rline one\r\rTags: a, b\r", u"", u"Old Mac\rline one\r\r", V{u"a", u"b"}},
    };
    ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
    for (const auto& c : cases) {
        const NINote note = noteFromText(c.text, "/nowhere/Note.txt");
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        EXPECT_EQ(note.title, c.title);
        EXPECT_EQ(note.body, c.body);
        EXPECT_EQ(note.tagNames, c.tags);
        EXPECT_EQ(seconds(note.creationDate), c.created);
        EXPECT_EQ(seconds(note.modificationDate), c.modified);
        EXPECT_FALSE(note.pictureURL);
    }
}

TEST_F(Sheets, PicturesMustBeRegularFilesInsideThePicturesFolder) {
    const fs::path dir = root() / "export", note = dir / "Note.txt";
    writeFile(dir / "Pictures" / "ok.png", "png");
    writeFile(root() / "secret.key", "key");
    fs::create_directories(dir / "Pictures" / "folder.png");
    fs::create_symlink(root() / "secret.key", dir / "Pictures" / "link.png");
    fs::create_directory_symlink(".", dir / "Pictures" / "here");  // a link on the way
    ASSERT_EQ(::mkfifo((dir / "Pictures" / "fifo.png").c_str(), 0600), 0);

    EXPECT_EQ(noteFromText(u"T\n\nPicture: ok.png", note).pictureURL, dir / "Pictures" / "ok.png");
    EXPECT_EQ(noteFromText(u"T\r\n\r\nPicture: ok.png\r\n", note).pictureURL, dir / "Pictures" / "ok.png");
    for (const std::u16string value : {u"missing.png", u"folder.png", u"link.png", u"here/ok.png",
                                       u"fifo.png", u"../../secret.key", u"/etc/passwd", u""}) {
        const NINote read = noteFromText(u"T\nbody\n\nPicture: " + value, note);
        EXPECT_FALSE(read.pictureURL) << read.pictureValue.size();
        EXPECT_EQ(read.body, u"body");  // the cut still falls at the key
    }
    // The picture a person sees (a decomposed name, another letter case: more cases end to end);
    // a value that could mean two entries gives none and names both.
    writeFile(dir / "Pictures" / "shot.PNG", "png");
    writeFile(dir / "Pictures" / "Shot.png", "png");
    const NINote twice = noteFromText(u"T\n\nPicture: SHOT.png", note);
    EXPECT_EQ(twice.pictureCandidates, (Names{"Shot.png", "shot.PNG"}));
    // A "Pictures" folder that is itself a link leads elsewhere: no picture.
    fs::rename(dir / "Pictures", root() / "elsewhere");
    fs::create_directory_symlink(root() / "elsewhere", dir / "Pictures");
    EXPECT_FALSE(noteFromText(u"T\n\nPicture: ok.png", note).pictureURL);
}

TEST_F(Sheets, ReadingFailsForBadUTF8AndWhatIsNoRegularFile) {
    // Bad UTF-8 (its message is pinned by the command line's tests): overlong forms, encoded
    // surrogates, a code point past U+10FFFF and a cut sequence.
    Error error;
    for (const char* bytes : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "abc\xE2\x82"}) {
        writeFile(root() / "bad.txt", bytes);
        EXPECT_FALSE(readNoteAtURL(root() / "bad.txt", &error)) << bytes;
        EXPECT_EQ(error.kind(), ErrorKind::InvalidUTF8);
    }
    ASSERT_EQ(::mkfifo((root() / "fifo.txt").c_str(), 0600), 0);
    EXPECT_FALSE(readNoteAtURL(root() / "fifo.txt", &error));  // must not block
    EXPECT_EQ(error.kind(), ErrorKind::NotRegularFile);
    EXPECT_FALSE(readNoteAtURL(root() / "missing.txt", &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    // A failed fstat is a read error, not a verdict on the kind of file; a failed read names the note.
    writeFile(root() / "plain.txt", "Plain\n");
    for (const auto operation : {sys::Operation::Stat, sys::Operation::Read}) {
        sys::injectFault(operation, EIO);
        error = Error();
        EXPECT_FALSE(readNoteAtURL(root() / "plain.txt", &error));
        sys::clearFaults();
        EXPECT_EQ(error.kind(), ErrorKind::ReadFailed);
        EXPECT_EQ(error.osError(), EIO);
        EXPECT_EQ(error.path(), root() / "plain.txt");
    }
}

TEST(DateFromString, MediumDateShortTimeInTheUsersLocaleAndTimeZone) {
    const struct {
        const char *locale, *tz;
        const char16_t* text;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04\u202FPM", kJan5th2024At1504UTC},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04\u00A0PM", kJan5th2024At1504UTC},
        {"C", "UTC", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC},
        {"fr_FR.UTF-8", "UTC", u"5\u00A0janv. 2024, 15:04", kJan5th2024At1504UTC},
        {"en_US.UTF-8", "America/New_York", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC + 5 * 3600},
        // Zones only the C library knows: POSIX rules (one hour east in winter, two in summer).
        {"en_US.UTF-8", "CET-1CEST,M3.5.0,M10.5.0/3", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC - 3600},
        {"en_US.UTF-8", "CET-1CEST,M3.5.0,M10.5.0/3", u"Jul 5, 2024, 3:04 PM", 1720191840 - 7200},
        {"en_US.UTF-8", "<+0530>-5:30", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC - 19800},
        {"en_US.UTF-8", ":America/New_York", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC + 5 * 3600},
        // A time the clocks skipped reads as shifted by the gap (2:30 EST is 3:30 EDT); one they
        // passed twice is the earlier; a zone's name and its POSIX rule agree.
        {"en_US.UTF-8", "America/New_York", u"Mar 10, 2024, 2:30 AM", 1710055800},
        {"en_US.UTF-8", "EST5EDT,M3.2.0,M11.1.0", u"Mar 10, 2024, 2:30 AM", 1710055800},
        {"en_US.UTF-8", "America/New_York", u"Nov 3, 2024, 1:30 AM", 1730611800},
        {"en_US.UTF-8", "EST5EDT,M3.2.0,M11.1.0", u"Nov 3, 2024, 1:30 AM", 1730611800},
        {"en_US.UTF-8", "Europe/Berlin", u"Oct 27, 2024, 2:30 AM", 1729989000},
        {"en_US.UTF-8", "CET-1CEST,M3.5.0,M10.5.0/3", u"Oct 27, 2024, 2:30 AM", 1729989000},
        // Past 2262 and before 1677, where nanoseconds since 1970 run out.
        {"en_US.UTF-8", "UTC", u"Jan 5, 2300, 3:04 PM", 10414191840},
        {"en_US.UTF-8", "UTC", u"Jan 5, 1600, 3:04 PM", -11675696160},
        // Other forms and trailing text.
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024", {}},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04 PM tomorrow", {}},
        {"en_US.UTF-8", "UTC", u"Jan 45, 2024, 3:04 PM", {}},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04 PM\r", {}},
    };
    for (const auto& c : cases) {
        ScopedEnvironment env{{"LC_ALL", c.locale}, {"TZ", c.tz}};
        EXPECT_EQ(seconds(dateFromString(c.text)), c.expected)
            << c.locale << " " << c.tz << " row " << (&c - cases);
    }
}

TEST_F(Sheets, ParagraphsAttachmentsAndExistingChildren) {
    // Every separator kind, CR LF as one; a final one adds nothing.
    NINote note;
    note.title = u"Groceries", note.body = u"\nMilk\r\nEggs\rC\u2029D\n",
    note.tagNames = V{u"home", u"errands"};
    EXPECT_TRUE(
        has(sheetFor(note, std::string(32, 'a'), "<p>kept</p>"),
            "<?xml version=\"1.0\"?><sheet a=\"1\"><string><p>kept</p>\n"
            "<p><tags><tag kind=\"heading1\"># </tag></tags>Groceries</p>\n<p></p>\n<p>Milk</p>\n"
            "<p>Eggs</p>\n<p>C</p>\n<p>D</p>\n</string><extra/><attachment type=\"keywords\">home,errands"
            "</attachment>\n<attachment type=\"file\">" +
                std::string(32, 'a') + "</attachment>\n</sheet>"));
    EXPECT_TRUE(has(sheetFor(NINote{}), "<string>\n</string><extra/></sheet>"));
}

TEST_F(Sheets, TextIsEscapedAndSurvivesAParser) {
    NINote note;
    note.title = u"a < b & \"c\"\rd";
    note.body = u"nul\u0000 bell\u0007 tab\t ok\uFFFE\uFFFF \xD800 lone"s;
    std::size_t leftOut = 0;
    const std::string sheet = sheetFor(note, std::nullopt, "", &leftOut);
    EXPECT_EQ(leftOut, 5u);  // NUL, BEL, U+FFFE, U+FFFF and the lone surrogate
    pugi::xml_document reparsed;
    ASSERT_TRUE(reparsed.load_string(sheet.c_str()));
    auto paragraph = reparsed.child("sheet").child("string").child("p");
    EXPECT_STREQ(paragraph.last_child().value(), "a < b & \"c\"\rd");  // the CR comes back as a CR
    EXPECT_STREQ(paragraph.next_sibling("p").text().get(), "nul bell tab\t ok  lone");
}

TEST_F(Sheets, PictureIsCopiedUnderItsIdentifierAndTheDateAppliedLast) {
    ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
    writeFile(root() / "export" / "Pictures" / "sun set.jpg", "JPEGDATA");
    writeFile(root() / "export" / "Trip.txt",
              "Trip\nBeach\n\nPicture: sun set.jpg\nCreated: not a date\nModified: Jan 5, 2024, 3:04 PM\n");
    Error error;
    const auto sheet = createSheetFromFileAtURL(root() / "export" / "Trip.txt", &error);
    ASSERT_TRUE(sheet) << error.message();
    EXPECT_FALSE(sheet->creationDate);
    const auto& media = sheet->children().at("Media");
    ASSERT_EQ(media->children().size(), 1u);
    const std::string mediaName = media->children().begin()->first;
    ASSERT_EQ(mediaName.size(), std::string("sun set.").size() + 32 + 4);
    const std::string identifier = mediaName.substr(8, 32);
    EXPECT_EQ(mediaName, "sun set." + identifier + ".jpg");
    EXPECT_TRUE(
        has(sheet->children().at("Content.xml")->contents(), "<attachment type=\"file\">" + identifier));

    const fs::path target = root() / "Trip.inkvale";
    ASSERT_TRUE(sheet->writeToURL(target, nullptr));
    EXPECT_EQ(readFile(target / "Media" / mediaName), "JPEGDATA");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, kJan5th2024At1504UTC);  // set after the contents, access time alike
    EXPECT_EQ(st.st_atim.tv_sec, kJan5th2024At1504UTC);
}

TEST(PackageNames, CollisionsAreNumberedAndLongNamesCutToUniqueNamesThatFit) {
    std::string e125, hangul82;
    for (int i = 0; i < 125; ++i) e125 += "\xC3\xA9";         // é, two bytes each
    for (int i = 0; i < 82; ++i) hangul82 += "\xED\x95\x9C";  // three bytes, nine decomposed
    const std::string n = ".inkvale";
    const struct {
        std::string preferred, expected;  // expected empty: any name that fits
        bool numbered, shortened;
    } cases[] = {
        {"x" + n, "x - 2" + n, true, false},  // a group folder has the name
        {"A" + n, "A" + n, false, false},
        {"a" + n, "a - 2" + n, true, false},
        {"a" + n, "a - 3" + n, true, false},
        {"Cafe\xCC\x81" + n, "Cafe\xCC\x81" + n, false, false},
        {"Caf\xC3\xA9" + n, "Cafe\xCC\x81 - 2" + n, true, false},
        // Names that aren't UTF-8 stay byte for byte until they collide.
        {"x\xFE" + n, "x\xFE" + n, false, false},
        {"x\xFF" + n, "x\xEF\xBF\xBD - 2" + n, true, false},
        // A cut keeps as much as fits and never splits a character.
        {std::string(251, 'n') + n, std::string(247, 'n') + n, false, true},
        {std::string(252, 'n') + n, "", false, true},
        {e125 + "x" + n, e125.substr(0, 246) + n, false, true},
        {hangul82 + "ab" + n, hangul82 + "a" + n, false, true},
        {hangul82 + "ab" + n, "", false, true},  // decomposed and numbered it would not fit
        // Σ lower-cases to ς at a word's end only.
        {"ΟΔΟΣ" + n, "ΟΔΟΣ" + n, false, false},
        {"ΟΔΟΣ" + n, "", true, false},
        {"ΟΔΟΣ ΟΔΟΣ" + n, "ΟΔΟΣ ΟΔΟΣ" + n, false, false},
        {"ΟΔΟΣ ΟΔΟΣ" + n, "", true, false},
    };
    PackageNames names;
    names.take("x" + n);
    std::set<std::u16string> keys;
    for (const auto& c : cases) {
        NameChange change;
        const std::string chosen = names.assign(c.preferred, &change);
        SCOPED_TRACE(chosen);
        if (!c.expected.empty()) {
            EXPECT_EQ(chosen, c.expected);
        }
        EXPECT_LE(chosen.size(), std::size_t{NAME_MAX});
        EXPECT_EQ(change.numbered, c.numbered);
        EXPECT_EQ(change.shortened, c.shortened);
        EXPECT_TRUE(keys.insert(filenameKey(lossyUTF16(chosen))).second) << "given out twice";
    }
}

TEST_F(Sheets, ABrokenOrMissingTemplateIsAnErrorNamingIt) {
    writeFile(root() / "Bad.inkvale" / "Content.xml", "<sheet><string></sheet>");
    SheetTemplate document;
    Error error;
    EXPECT_FALSE(loadTemplateContent(root() / "Bad.inkvale", document, &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateInvalid);
    EXPECT_TRUE(has(error.message(), "Bad.inkvale/Content.xml"));
    EXPECT_FALSE(loadTemplateContent(root() / "None.inkvale", document, &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateMissing);
    // The bundled template is looked up by name; a miss names where it looked.
    EXPECT_FALSE(URLForResource("No Such Template", "inkvale", &error));
    EXPECT_TRUE(has(error.message(), "“No Such Template.inkvale” couldn’t be found (looked in “") &&
                has(error.message(), "/bin/resources”"))
        << error.message();
    // NI_RESOURCE_DIR is looked in first.
    ScopedEnvironment resources{{"NI_RESOURCE_DIR", root().c_str()}};
    EXPECT_EQ(URLForResource("Bad", "inkvale", &error), root() / "Bad.inkvale");
}

void unifySpaces(icu::UnicodeString& text) {
    text.findAndReplace(icu::UnicodeString(u"\u202F"), icu::UnicodeString(u" "))
        .findAndReplace(icu::UnicodeString(u"\u00A0"), icu::UnicodeString(u" "));
}

// One character of every kind, at every place around the eight-unit steps and
// the 1,024-unit slices: the sheet's paragraphs, what is left out and the
// plain text come out as one character at a time would make them.
TEST_F(Sheets, OneCharacterAnywhereIsSplitEscapedOrLeftOutAsItIs) {
    const SheetTemplate sheetTemplate = templateWith("");
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
                                  root() / "n.txt", nullptr, {NoteParts::TextOnly, "", ""});
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
    ScopedEnvironment env{{"TZ", "America/New_York"}};
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

// The notes' bytes that fit the budget are kept from the scan to the writing;
// past it, a note is read and checked again when its sheet is written.
TEST_F(Sheets, PastTheBudgetANoteIsReadAndCheckedAgainWhenWritten) {
    const fs::path notes = root() / "Notes";
    for (const std::size_t budget : {kKeptNoteBytes, std::size_t{0}}) {
        writeFile(notes / "A.txt", "A\nfirst");
        Error error;
        ConversionOptions options;
        options.keptNoteBytes = budget;
        auto scan = scanFolderAtURL(notes, options, &error);
        ASSERT_TRUE(scan) << error.message();
        writeFile(notes / "A.txt", "A\n\xFF");  // no longer UTF-8 when its sheet is written
        const fs::path out = root() / ("out" + std::to_string(budget));
        EXPECT_EQ(writeFolderScan(*scan, out, options, &error), budget != 0);
        if (budget == 0)
            EXPECT_EQ(error.path(), notes / "A.txt");
        else
            EXPECT_EQ(readFile(out / "A.inkvale" / "Text.txt"), "# A\nfirst");
    }
}

// A zipped export gives the sheets its folder gives, dates included, whether
// its notes' bytes are kept from the first reading or read again from the archive.
TEST_F(Sheets, AZippedExportConvertsAsItsFolderDoes) {
    const fs::path cases = NI_TEST_DATA_DIR "/golden";
    // Every item's path (identifiers masked), with a folder's date ("now" when it is undated) and a
    // file's bytes.
    const auto treeOf = [](const fs::path& folder) {
        std::map<std::string, std::string> tree;
        for (const auto& item : fs::recursive_directory_iterator(folder)) {
            const std::string path = std::regex_replace(item.path().lexically_relative(folder).native(),
                                                        std::regex("[0-9a-f]{32}"), "ID");
            const std::int64_t date = modified(item.path());
            tree[path] = item.is_directory()
                             ? (std::time(nullptr) - date > 3600 ? std::to_string(date) : "now")
                             : std::regex_replace(readFile(item.path()), std::regex("[0-9a-f]{32}"), "ID");
        }
        return tree;
    };
    Error error;
    auto expected = scanFolderAtURL(cases / "sample_export" / "export", {}, &error);
    ASSERT_TRUE(expected && writeFolderScan(*expected, root() / "folder", {}, &error)) << error.message();
    for (const std::size_t budget : {kKeptNoteBytes, std::size_t{0}}) {
        ConversionOptions options;
        options.keptNoteBytes = budget;
        auto scan = scanFolderAtURL(cases / "zip_sample_export" / "export.zip", options, &error);
        const fs::path out = root() / ("zip" + std::to_string(budget));
        ASSERT_TRUE(scan && writeFolderScan(*scan, out, options, &error)) << error.message();
        EXPECT_EQ(treeOf(out), treeOf(root() / "folder")) << budget;
    }
}

}  // namespace
}  // namespace ni
