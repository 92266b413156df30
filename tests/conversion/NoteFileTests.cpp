#include <sys/stat.h>

#include <chrono>

#include "TestSupport.hpp"
#include "conversion/NoteFile.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using namespace test;
using Tags = std::optional<std::vector<std::u16string>>;
using V = std::vector<std::u16string>;
using NoteFile = ScratchTest;

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
        {u"Groceries\nMilk\nEggs\n\nTags: home, errands\n", u"Groceries", u"Milk\nEggs", V{u"home", u"errands"}},
        {u"", u"", u"", {}},
        {u"Title\nBody\n\n\n", u"Title", u"Body\n", {}},  // only one final "\n\n" goes
        {u"just text", u"", u"just text", {}},
        {u"\nbody line", u"", u"body line", {}},
        {u"Title\n\nFirst", u"Title", u"\nFirst", {}},
        {u"T\n\nTags: ", u"", u"T", V{u""}},  // a lone line is body, not title
        {u"T\n\nTags: a,b, c, , d", u"", u"T", V{u"a b", u"c", u"", u"d"}},
        // A Tags line above the Picture line stays in the body but is still read.
        {u"T\nbody\nTags: x\nPicture: missing.png\n", u"T", u"body\nTags: x\n", V{u"x"}},
        // Keys count only at line starts and in their own case.
        {u"T\nRemember Tags: milk\nMy Picture: sunset\ntags: lower\nEnd", u"T",
         u"Remember Tags: milk\nMy Picture: sunset\ntags: lower\nEnd", {}},
        // The last Tags line is the value; an earlier one is text and isn't lost.
        {u"R\nbody\n\nTags: a\nTags: b, c\nModified: x\nModified: y\n", u"R", u"body\n\nTags: a\n", V{u"b", u"c"}},
        // A Modified line alone doesn't cut the note but is read.
        {u"T\nbody\nModified: Jan 5, 2024, 3:04 PM", u"T", u"body\nModified: Jan 5, 2024, 3:04 PM", {}, {},
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

TEST_F(NoteFile, PicturesMustBeRegularFilesInsideThePicturesFolder) {
    const fs::path dir = root() / "export", note = dir / "Note.txt";
    writeFile(dir / "Pictures" / "ok.png", "png");
    writeFile(root() / "secret.key", "key");
    fs::create_directories(dir / "Pictures" / "folder.png");
    fs::create_symlink(root() / "secret.key", dir / "Pictures" / "link.png");
    fs::create_directory_symlink(".", dir / "Pictures" / "here");  // a link on the way
    ASSERT_EQ(::mkfifo((dir / "Pictures" / "fifo.png").c_str(), 0600), 0);

    EXPECT_EQ(noteFromText(u"T\n\nPicture: ok.png", note).pictureURL, dir / "Pictures" / "ok.png");
    EXPECT_EQ(noteFromText(u"T\r\n\r\nPicture: ok.png\r\n", note).pictureURL, dir / "Pictures" / "ok.png");
    for (const std::u16string value :
         {u"missing.png", u"folder.png", u"link.png", u"here/ok.png", u"fifo.png", u"../../secret.key", u"/etc/passwd", u""}) {
        const NINote read = noteFromText(u"T\nbody\n\nPicture: " + value, note);
        EXPECT_FALSE(read.pictureURL) << read.pictureValue.size();
        EXPECT_EQ(read.body, u"body");  // the cut still falls at the key
    }
    // A "Pictures" folder that is itself a link leads elsewhere: no picture.
    fs::rename(dir / "Pictures", root() / "elsewhere");
    fs::create_directory_symlink(root() / "elsewhere", dir / "Pictures");
    EXPECT_FALSE(noteFromText(u"T\n\nPicture: ok.png", note).pictureURL);
}

TEST_F(NoteFile, ReadingFailsForBadUTF8AndWhatIsNoRegularFile) {
    writeFile(root() / "bad.txt", "Title\nok \xC3\x28 rest");
    Error error;
    EXPECT_FALSE(readNoteAtURL(root() / "bad.txt", &error));
    EXPECT_EQ(error.kind(), ErrorKind::InvalidUTF8);
    EXPECT_TRUE(has(error.message(), "bad.txt") && has(error.message(), "(byte 9)")) << error.message();
    // Overlong forms and encoded surrogates are not UTF-8 either.
    for (const char* bytes : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "abc\xE2\x82"}) {
        writeFile(root() / "bad.txt", bytes);
        EXPECT_FALSE(readNoteAtURL(root() / "bad.txt", nullptr)) << bytes;
    }
    ASSERT_EQ(::mkfifo((root() / "fifo.txt").c_str(), 0600), 0);
    EXPECT_FALSE(readNoteAtURL(root() / "fifo.txt", &error));  // must not block
    EXPECT_EQ(error.kind(), ErrorKind::NotRegularFile);
    EXPECT_FALSE(readNoteAtURL(root() / "missing.txt", &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    // A failed fstat is a read error, not a verdict on the kind of file.
    writeFile(root() / "plain.txt", "Plain\n");
    sys::injectFault(sys::Operation::Stat, EIO);
    EXPECT_FALSE(readNoteAtURL(root() / "plain.txt", &error));
    sys::clearFaults();
    EXPECT_EQ(error.kind(), ErrorKind::ReadFailed);
    EXPECT_EQ(error.osError(), EIO);
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
        {"de_DE.UTF-8", "UTC", u"05.01.2024, 15:04", kJan5th2024At1504UTC},
        {"fr_FR.UTF-8", "UTC", u"5 janv. 2024, 15:04", kJan5th2024At1504UTC},
        {"fr_FR.UTF-8", "UTC", u"5\u00A0janv. 2024, 15:04", kJan5th2024At1504UTC},
        {"ja_JP.UTF-8", "UTC", u"2024/01/05 15:04", kJan5th2024At1504UTC},
        {"en_US.UTF-8", "America/New_York", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC + 5 * 3600},
        // Zones only the C library knows: POSIX rules (one hour east in winter, two in summer).
        {"en_US.UTF-8", "CET-1CEST,M3.5.0,M10.5.0/3", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC - 3600},
        {"en_US.UTF-8", "CET-1CEST,M3.5.0,M10.5.0/3", u"Jul 5, 2024, 3:04 PM", 1720191840 - 7200},
        {"en_US.UTF-8", "<+0530>-5:30", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC - 19800},
        {"en_US.UTF-8", ":America/New_York", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC + 5 * 3600},
        // Past 2262 and before 1677, where nanoseconds since 1970 run out.
        {"en_US.UTF-8", "UTC", u"Jan 5, 2300, 3:04 PM", 10414191840},
        {"en_US.UTF-8", "UTC", u"Jan 5, 1600, 3:04 PM", -11675696160},
        // Other forms and trailing text.
        {"en_US.UTF-8", "UTC", u"", {}},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024", {}},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04 PM tomorrow", {}},
        {"en_US.UTF-8", "UTC", u"2024-01-05 15:04", {}},
        {"en_US.UTF-8", "UTC", u"Jan 45, 2024, 3:04 PM", {}},
        {"en_US.UTF-8", "UTC", u"Jan 5, 2024, 3:04 PM\r", {}},
    };
    for (const auto& c : cases) {
        ScopedEnvironment env{{"LC_ALL", c.locale}, {"TZ", c.tz}};
        EXPECT_EQ(seconds(dateFromString(c.text)), c.expected) << c.locale << " " << c.tz << " row " << (&c - cases);
    }
}

}  // namespace
}  // namespace ni
