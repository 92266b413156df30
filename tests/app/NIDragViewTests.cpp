#include <QAction>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <memory>
#include <tuple>

#include "TestSupport.hpp"
#include "app/MainWindow.hpp"
#include "app/NIDragView.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NIDragViewDelegate.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

// A drop view that is its own delegate and keeps what it was given.
class TestDragView : public NIDragView, public NIDragViewDelegate {
public:
    std::vector<fs::path> received;
    void dragViewDidReceiveURL(const fs::path& url) override { received.push_back(url); }
};

std::unique_ptr<QMimeData> urls(const std::vector<fs::path>& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> list;
    for (const auto& path : paths) list.append(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    data->setUrls(list);
    return data;
}

// An enter (accepted as a copy) or a drop (accepted) of data on the view.
bool send(NIDragView& view, const QMimeData* data, bool dropping = false,
          Qt::DropActions possible = Qt::CopyAction | Qt::MoveAction) {
    QDragEnterEvent enter(QPoint(20, 20), possible, data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(20, 20), possible, data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent& event = dropping ? drop : enter;
    QCoreApplication::sendEvent(&view, &event);
    return event.isAccepted() && (dropping || event.dropAction() == Qt::CopyAction);
}

using NIDragViewTest = test::ScratchTest;

TEST_F(NIDragViewTest, TakesACopyOfAFirstItemThatIsAFolderButNotAPackageAndDeliversItOnce) {
    const fs::path folder = root() / "Notara folder", file = root() / "note.txt";
    fs::create_directories(folder);
    fs::create_directories(root() / "Sheet.inkvale");
    test::writeFile(file, "note");
    const struct {
        std::vector<fs::path> items;
        bool accepted;
    } cases[] = {
        {{folder}, true},
        {{folder, file}, true},
        {{file}, false},
        {{root() / "Sheet.inkvale"}, false},
        {{file, folder}, false},
        {{root() / "gone"}, false},
        {{}, false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.items.empty() ? "no items" : each.items[0].filename().string());
        NIDragView view;
        EXPECT_EQ(send(view, urls(each.items).get()), each.accepted);
        EXPECT_EQ(view.highlighted(), each.accepted);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(&view, &leave);
        EXPECT_FALSE(view.highlighted());
    }
    TestDragView view;
    view.setDelegate(&view);
    EXPECT_FALSE(send(view, urls({folder}).get(), false, Qt::MoveAction)) << "a drag that can only move";
    const auto twoFolders = urls({folder, root()});
    ASSERT_TRUE(send(view, twoFolders.get()));
    EXPECT_TRUE(send(view, twoFolders.get(), true));
    EXPECT_EQ(view.received, std::vector<fs::path>{folder});
    EXPECT_FALSE(view.highlighted());

    // A folder gone by the time of the drop reaches nobody.
    ASSERT_TRUE(send(view, twoFolders.get()));
    fs::remove(folder);
    EXPECT_FALSE(send(view, twoFolders.get(), true));
    EXPECT_EQ(view.received.size(), 1u);

    // The main window converts a dropped folder and offers the save command until cleared.
    MainWindow window;
    const auto* label = window.findChild<QLabel*>(QStringLiteral("statusLabel"));
    const auto* save = window.findChild<QAction*>(QStringLiteral("actionSaveFiles"));
    const auto* saveButton = window.findChild<QPushButton*>(QStringLiteral("saveButton"));
    ASSERT_TRUE(label && save && saveButton);
    // The label, whether the save command is enabled and whether its button is hidden.
    const auto state = [&] {
        return std::make_tuple(label->text(), save->isEnabled(), saveButton->isHidden());
    };
    const auto idle = std::make_tuple(QStringLiteral("DRAG NOTARA FOLDER HERE"), false, true);
    EXPECT_EQ(state(), idle);

    test::writeFile(folder / "Groceries.txt", "Groceries\n\nMilk.\n");
    AppDelegate appDelegate(&window);
    window.setAppDelegate(&appDelegate);
    ASSERT_TRUE(send(*window.dragView(), urls({folder}).get()));
    EXPECT_TRUE(send(*window.dragView(), urls({folder}).get(), true));
    // The conversion starts once the drop has returned.
    EXPECT_FALSE(appDelegate.exportURL());
    for (int round = 0; round < 5 && !appDelegate.exportURL(); ++round) QCoreApplication::processEvents();
    ASSERT_TRUE(appDelegate.exportURL());
    EXPECT_EQ(state(), std::make_tuple(QStringLiteral("IMPORT SUCCESSFUL"), true, false));
    appDelegate.setExportURL(std::nullopt);
    EXPECT_EQ(state(), idle);
}

}  // namespace
}  // namespace ni
