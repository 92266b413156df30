#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "TestSupport.hpp"
#include "app/MainWindow.hpp"
#include "app/NIDragView.hpp"
#include "conversion/AppDelegate.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

class MainWindowTest : public test::ScratchTest {
protected:
    QLabel* label() { return window.findChild<QLabel*>(QStringLiteral("statusLabel")); }
    QAction* action(const char* name) { return window.findChild<QAction*>(QLatin1String(name)); }
    QPushButton* saveButton() { return window.findChild<QPushButton*>(QStringLiteral("saveButton")); }

    MainWindow window;
};

TEST_F(MainWindowTest, StartsIdleWithTheSaveCommandUnavailable) {
    ASSERT_NE(label(), nullptr);
    EXPECT_EQ(label()->text(), QStringLiteral("DRAG NOTARA FOLDER HERE"));
    ASSERT_NE(action("actionOpenFolder"), nullptr);
    EXPECT_EQ(action("actionOpenFolder")->text(), QStringLiteral("Open Folder…"));
    EXPECT_EQ(action("actionOpenFolder")->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(action("actionSaveFiles")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(action("actionQuit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_FALSE(action("actionSaveFiles")->isEnabled());
    EXPECT_TRUE(saveButton()->isHidden());
    EXPECT_EQ(window.dragView()->delegate() != nullptr, true);
}

TEST_F(MainWindowTest, DroppedFolderIsConvertedAndOffersTheSaveCommand) {
    const fs::path notes = root() / "Notes";
    test::writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    AppDelegate appDelegate(&window);
    window.setAppDelegate(&appDelegate);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QFile::decodeName(notes.c_str()))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.dragView(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.dragView(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    // The conversion starts once the drop has returned.
    EXPECT_FALSE(appDelegate.exportURL());
    for (int round = 0; round < 5 && !appDelegate.exportURL(); ++round) QCoreApplication::processEvents();

    ASSERT_TRUE(appDelegate.exportURL());
    EXPECT_TRUE(fs::is_directory(*appDelegate.exportURL() / "Groceries.inkvale"));
    EXPECT_EQ(label()->text(), QStringLiteral("IMPORT SUCCESSFUL"));
    EXPECT_TRUE(action("actionSaveFiles")->isEnabled());
    EXPECT_FALSE(saveButton()->isHidden());
    EXPECT_FALSE(window.isBusy());

    appDelegate.setExportURL(std::nullopt);
    EXPECT_EQ(label()->text(), QStringLiteral("DRAG NOTARA FOLDER HERE"));
    EXPECT_FALSE(action("actionSaveFiles")->isEnabled());
    EXPECT_TRUE(saveButton()->isHidden());
}

}  // namespace
}  // namespace ni
