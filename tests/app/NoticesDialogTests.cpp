#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "TestSupport.hpp"
#include "app/MainWindow.hpp"
#include "app/NoticesDialog.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NoteFile.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

using NoticesWindowTest = test::ScratchTest;

// The line under the status label comes with a pending export that has notices and goes with it;
// the details list every notice, in walk order until sorted.
TEST_F(NoticesWindowTest, TheLineAndDetailsFollowThePendingExport) {
    const fs::path notes = root() / "Notes";
    const auto expected = test::writeExportWithEveryNotice(notes);
    setDateLocaleOverride("de_DE");
    MainWindow window;
    AppDelegate appDelegate(&window);
    window.setAppDelegate(&appDelegate);
    const auto* line = window.findChild<QWidget*>(QStringLiteral("noticesLine"));
    const auto* label = window.findChild<QLabel*>(QStringLiteral("noticesLabel"));
    auto* details = window.findChild<QPushButton*>(QStringLiteral("detailsButton"));
    ASSERT_TRUE(line && label && details);
    EXPECT_TRUE(line->isHidden());

    ASSERT_EQ(appDelegate.runFolderConversionAtURL(notes), ConversionOutcome::Converted);
    setDateLocaleOverride(std::nullopt);
    EXPECT_FALSE(line->isHidden());
    EXPECT_EQ(label->text(), QStringLiteral("10 notes · 18 need a look"));
    details->click();
    auto* dialog = window.findChild<NoticesDialog*>();
    ASSERT_TRUE(dialog);
    auto* table = dialog->findChild<QTableWidget*>();
    ASSERT_EQ(table->rowCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("Control.txt"));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("Characters left out"));
    EXPECT_EQ(table->item(14, 0)->text(), QStringLiteral("Notes")) << "the export folder is named";
    table->selectRow(1);
    dialog->copyRows();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("Empty picture.txt\tNo picture\tThe Picture line names no file; the sheet has no picture.\n"));
    table->sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(table->item(1, 1)->text(), QStringLiteral("Date locale"));
    dialog->close();

    // Without notices the line goes; so it does when the export leaves.
    test::writeFile(root() / "Plain" / "Note.txt", "Note");
    ASSERT_EQ(appDelegate.runFolderConversionAtURL(root() / "Plain"), ConversionOutcome::Converted);
    EXPECT_TRUE(line->isHidden());
    ASSERT_EQ(appDelegate.runFolderConversionAtURL(notes), ConversionOutcome::Converted);
    EXPECT_FALSE(line->isHidden());
    appDelegate.setExportURL(std::nullopt);
    EXPECT_TRUE(line->isHidden());
    appDelegate.applicationWillTerminate();
}

}  // namespace
}  // namespace ni
