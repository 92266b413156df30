#include <sys/stat.h>

#include <chrono>

#include "TestSupport.hpp"
#include "conversion/NoteFile.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using test::readFile;
using test::writeFile;

std::int64_t epochSeconds(const std::optional<Date>& date) {
    return std::chrono::duration_cast<std::chrono::seconds>(date.value().time_since_epoch()).count();
}

constexpr std::int64_t kJan5th2024At1504UTC = 1704467040;

class NoteFile : public test::ScratchTest {
protected:
    NINote read(std::string_view bytes, const std::string& name = "Note.txt") {
        writeFile(root() / "export" / name, bytes);
        Error error;
        auto note = readNoteAtURL(root() / "export" / name, &error);
        EXPECT_TRUE(note.has_value()) << error.message();
        return note.value_or(NINote{});
    }
};

TEST_F(NoteFile, WorkedExampleSplitsTitleBodyAndTags) {
    const NINote note = read("Groceries\nMilk\nEggs\n\nTags: home, errands\n");
    EXPECT_EQ(note.title, u"Groceries");
    EXPECT_EQ(note.body, u"Milk\nEggs");
    ASSERT_TRUE(note.tagNames);
    EXPECT_EQ(*note.tagNames, (std::vector<std::u16string>{u"home", u"errands"}));
    EXPECT_FALSE(note.pictureURL);
    EXPECT_FALSE(note.creationDate);
    EXPECT_FALSE(note.modificationDate);
}

TEST_F(NoteFile, HeadAndTitleEdgeCases) {
    const NINote empty = read("");
    EXPECT_TRUE(empty.title.empty() && empty.body.empty() && !empty.tagNames);

    const NINote noKeys = read("Title\nBody\n\n\n");
    EXPECT_EQ(noKeys.title, u"Title");
    EXPECT_EQ(noKeys.body, u"Body\n");  // only one final "\n\n" goes

    EXPECT_EQ(read("just text").body, u"just text");
    EXPECT_TRUE(read("just text").title.empty());
    EXPECT_EQ(read("\nbody line").body, u"body line");
    EXPECT_EQ(read("Title\n\nFirst").body, u"\nFirst");
}

TEST_F(NoteFile, TagValuesSplitOnCommaBlankOnly) {
    EXPECT_EQ(*read("T\n\nTags: ").tagNames, std::vector<std::u16string>{u""});
    EXPECT_EQ(*read("T\n\nTags: a,b, c, , d").tagNames,
              (std::vector<std::u16string>{u"a b", u"c", u"", u"d"}));
    // A Tags line above the Picture line stays in the body but is still read.
    const NINote above = read("T\nbody\nTags: x\nPicture: missing.png\n");
    EXPECT_EQ(above.body, u"body\nTags: x\n");
    EXPECT_EQ(*above.tagNames, std::vector<std::u16string>{u"x"});
}

TEST_F(NoteFile, KeysCountOnlyAtLineStartsAndInTheirOwnCase) {
    const NINote note = read("T\nRemember Tags: milk\nMy Picture: sunset\ntags: lower\nEnd");
    EXPECT_EQ(note.body, u"Remember Tags: milk\nMy Picture: sunset\ntags: lower\nEnd");
    EXPECT_FALSE(note.tagNames);
    // A Modified line alone doesn't cut the note but is read.
    test::ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
    const NINote modified = read("T\nbody\nModified: Jan 5, 2024, 3:04 PM");
    EXPECT_EQ(modified.body, u"body\nModified: Jan 5, 2024, 3:04 PM");
    EXPECT_EQ(epochSeconds(modified.modificationDate), kJan5th2024At1504UTC);
}

TEST_F(NoteFile, CrLfNotesReadLikeLfNotes) {
    test::ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
    writeFile(root() / "export" / "Pictures" / "photo.jpg", "jpeg");
    const std::string lf =
        "Title\nline one\nline two\n\nPicture: photo.jpg\nTags: a, b\nCreated: Jan 5, 2024, 3:04 PM\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const NINote a = read(lf, "lf.txt");
    const NINote b = read(crlf, "crlf.txt");
    EXPECT_EQ(b.title, a.title);
    EXPECT_EQ(b.body, u"line one\r\nline two");  // the body keeps its own separators
    EXPECT_EQ(b.tagNames, a.tagNames);
    EXPECT_EQ(b.pictureURL, a.pictureURL);
    ASSERT_TRUE(b.pictureURL);
    EXPECT_EQ(epochSeconds(b.creationDate), kJan5th2024At1504UTC);
}

TEST_F(NoteFile, ByteOrderMarkIsNotTitle) { EXPECT_EQ(read("\xEF\xBB\xBFTitle\nBody").title, u"Title"); }

TEST_F(NoteFile, PicturesMustBeRegularFilesInsideThePicturesFolder) {
    const test::fs::path dir = root() / "export";
    writeFile(dir / "Pictures" / "ok.png", "png");
    writeFile(root() / "secret.key", "key");
    test::fs::create_directories(dir / "Pictures" / "folder.png");
    test::fs::create_symlink(root() / "secret.key", dir / "Pictures" / "link.png");
    ASSERT_EQ(::mkfifo((dir / "Pictures" / "fifo.png").c_str(), 0600), 0);

    EXPECT_EQ(read("T\n\nPicture: ok.png").pictureURL, dir / "Pictures" / "ok.png");
    for (const char* value :
         {"missing.png", "folder.png", "link.png", "fifo.png", "../../secret.key", "/etc/passwd", ""}) {
        const NINote note = read(std::string("T\nbody\n\nPicture: ") + value);
        EXPECT_FALSE(note.pictureURL) << value;
        EXPECT_EQ(note.body, u"body") << value;  // the cut still falls at the key
    }
    // A "Pictures" folder that is itself a link leads elsewhere: no picture.
    test::fs::rename(dir / "Pictures", root() / "elsewhere");
    test::fs::create_directory_symlink(root() / "elsewhere", dir / "Pictures");
    EXPECT_FALSE(read("T\n\nPicture: ok.png").pictureURL);
}

TEST_F(NoteFile, InvalidUTF8NamesFileAndOffset) {
    writeFile(root() / "bad.txt", "Title\nok \xC3\x28 rest");
    Error error;
    EXPECT_FALSE(readNoteAtURL(root() / "bad.txt", &error));
    EXPECT_EQ(error.kind(), ErrorKind::InvalidUTF8);
    EXPECT_NE(error.message().find("bad.txt"), std::string::npos);
    EXPECT_NE(error.message().find("(byte 9)"), std::string::npos) << error.message();
    // Overlong forms and encoded surrogates are not UTF-8 either.
    for (const char* bytes : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "abc\xE2\x82"}) {
        writeFile(root() / "bad.txt", bytes);
        EXPECT_FALSE(readNoteAtURL(root() / "bad.txt", nullptr)) << bytes;
    }
}

TEST_F(NoteFile, OnlyRegularFilesAreRead) {
    const auto fifo = root() / "fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Error error;
    EXPECT_FALSE(readNoteAtURL(fifo, &error));  // must not block
    EXPECT_EQ(error.kind(), ErrorKind::NotRegularFile);
    EXPECT_NE(error.message().find("isn’t a regular file"), std::string::npos);
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

TEST(DateFromString, ParsesMediumDateShortTimeInTheUsersLocale) {
    struct Case {
        const char* locale;
        const char16_t* text;
    };
    // Each locale's own medium date and short time for 2024-01-05 15:04.
    const Case cases[] = {
        {"en_US.UTF-8", u"Jan 5, 2024, 3:04 PM"},      {"en_US.UTF-8", u"Jan 5, 2024, 3:04\u202FPM"},
        {"en_US.UTF-8", u"Jan 5, 2024, 3:04\u00A0PM"}, {"C", u"Jan 5, 2024, 3:04 PM"},
        {"de_DE.UTF-8", u"05.01.2024, 15:04"},         {"fr_FR.UTF-8", u"5 janv. 2024, 15:04"},
        {"fr_FR.UTF-8", u"5\u00A0janv. 2024, 15:04"},  {"ja_JP.UTF-8", u"2024/01/05 15:04"},
    };
    for (const Case& c : cases) {
        test::ScopedEnvironment env{{"LC_ALL", c.locale}, {"TZ", "UTC"}};
        const auto date = dateFromString(c.text);
        ASSERT_TRUE(date) << c.locale;
        EXPECT_EQ(epochSeconds(date), kJan5th2024At1504UTC) << c.locale;
    }
    test::ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "America/New_York"}};
    EXPECT_EQ(epochSeconds(dateFromString(u"Jan 5, 2024, 3:04 PM")),
              kJan5th2024At1504UTC + 5 * 3600);
}

TEST(DateFromString, TimeZonesOnlyTheCLibraryKnowsAndFarYears) {
    const struct {
        const char* tz;
        const char16_t* text;
        std::int64_t expected;
    } cases[] = {
        // A POSIX rule: one hour east in winter, two in summer.
        {"CET-1CEST,M3.5.0,M10.5.0/3", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC - 3600},
        {"CET-1CEST,M3.5.0,M10.5.0/3", u"Jul 5, 2024, 3:04 PM", 1720191840 - 7200},
        {"<+0530>-5:30", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC - 19800},
        {":America/New_York", u"Jan 5, 2024, 3:04 PM", kJan5th2024At1504UTC + 5 * 3600},
        // Past 2262 and before 1677, where nanoseconds since 1970 run out.
        {"UTC", u"Jan 5, 2300, 3:04 PM", 10414191840},
        {"UTC", u"Jan 5, 1600, 3:04 PM", -11675696160},
    };
    for (const auto& [tz, text, expected] : cases) {
        test::ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", tz}};
        const auto date = dateFromString(text);
        ASSERT_TRUE(date) << tz;
        EXPECT_EQ(epochSeconds(date), expected) << tz;
    }
}

TEST(DateFromString, RejectsOtherFormsAndTrailingText) {
    test::ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
    for (const char16_t* text : {u"", u"Jan 5, 2024", u"Jan 5, 2024, 3:04 PM tomorrow", u"2024-01-05 15:04",
                                 u"Jan 45, 2024, 3:04 PM", u"Jan 5, 2024, 3:04 PM\r"}) {
        EXPECT_FALSE(dateFromString(text))
            << std::string(text, text + std::char_traits<char16_t>::length(text));
    }
}

}  // namespace
}  // namespace ni
