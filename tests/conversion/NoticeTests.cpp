// What a run leaves out or changes is told, in the order of the walk.

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NoteFile.hpp"
#include "platform/Error.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

class Notices : public test::ScratchTest {
protected:
    void TearDown() override {
        setDateLocaleOverride(std::nullopt);
        ScratchTest::TearDown();
    }
    test::RecordingUserInterface ui;
    AppDelegate controller{&ui};
};

TEST_F(Notices, EveryKindIsToldOnceInWalkOrderAndTheSheetsAreRecorded) {
    const fs::path notes = root() / "Notes";
    const auto expected = test::writeExportWithEveryNotice(notes);
    setDateLocaleOverride("de_DE");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes, &error)) << error.message();
    const ConversionSummary& summary = controller.lastConversionSummary();
    ASSERT_EQ(summary.notices.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Notice& notice = summary.notices[i];
        SCOPED_TRACE(notice.message);
        EXPECT_EQ(noticeKindName(notice.kind), expected[i].kind);
        EXPECT_EQ(notice.path, expected[i].path);
        EXPECT_TRUE(test::has(notice.message, expected[i].words)) << expected[i].words;
    }
    EXPECT_EQ(summary.dateLocale, "de_DE");
    EXPECT_EQ(summary.source, notes);
    // One record per sheet in walk order; dates that weren't read are none.
    ASSERT_EQ(summary.sheets.size(), summary.notes);
    EXPECT_EQ(summary.sheets[4].note, "Long picture.txt");
    EXPECT_EQ(summary.sheets[4].picture, "Pictures/" + std::string(246, 'p') + ".jpg");
    const SheetRecord& top = summary.sheets[6];
    EXPECT_EQ(top.note, "Top.txt");
    EXPECT_EQ(top.package, "Top.inkvale");
    EXPECT_FALSE(top.picture || top.created || top.modified);
    EXPECT_EQ(summary.sheets[8].package, "a - 2.inkvale");

    // Read in the notes' own locale, the dates give no notice and carry their dates.
    setDateLocaleOverride("en_US");
    ASSERT_TRUE(controller.convertFolderAtURL(notes, &error)) << error.message();
    for (const Notice& notice : controller.lastConversionSummary().notices)
        EXPECT_NE(notice.kind, NoticeKind::UnreadDate) << notice.message;
    EXPECT_TRUE(controller.lastConversionSummary().sheets[6].modified);
}

TEST_F(Notices, AnOrdinaryExportGivesNone) {
    const fs::path notes = root() / "Notes";
    test::writeFile(notes / "Trip.txt", "Trip\nGo.\n\nPicture: beach.jpg\nTags: a, b\n");
    test::writeFile(notes / "Pictures" / "beach.jpg", "jpg");
    test::writeFile(notes / "Travel" / "Plan.txt", "Plan");
    test::writeFile(notes / "Travel" / "Pictures" / "map.png", "png");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes, &error)) << error.message();
    EXPECT_TRUE(controller.lastConversionSummary().notices.empty());
    EXPECT_EQ(controller.lastConversionSummary().sheets.at(1).tags, 2u);
}

}  // namespace
}  // namespace ni
