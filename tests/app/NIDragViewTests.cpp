#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QPen>
#include <QUrl>
#include <memory>

#include "TestSupport.hpp"
#include "app/NIDragView.hpp"
#include "platform/NIDragViewDelegate.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

struct RecordingDelegate : NIDragViewDelegate {
    std::vector<fs::path> received;
    void dragViewDidReceiveURL(const fs::path& url) override { received.push_back(url); }
};

class CountingDragView : public NIDragView {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        NIDragView::paintEvent(event);
    }
};

class SolidBorderDragView : public NIDragView {
protected:
    void addLineDashToPath(QPen& pen) const override { pen.setStyle(Qt::SolidLine); }
};

QUrl fileURL(const fs::path& path) { return QUrl::fromLocalFile(QFile::decodeName(path.c_str())); }

std::unique_ptr<QMimeData> urls(const QList<QUrl>& list) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls(list);
    return data;
}

struct DragAnswer {
    bool accepted;
    Qt::DropAction action;
};

DragAnswer enter(NIDragView& view, const QMimeData* data,
                 Qt::DropActions possible = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) {
    QDragEnterEvent event(QPoint(20, 20), possible, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &event);
    return {event.isAccepted(), event.dropAction()};
}

bool drop(NIDragView& view, const QMimeData* data) {
    QDropEvent event(QPointF(20, 20), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &event);
    return event.isAccepted();
}

void leave(NIDragView& view) {
    QDragLeaveEvent event;
    QCoreApplication::sendEvent(&view, &event);
}

void settle() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

class NIDragViewTest : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        folder = root() / "Notara folder";
        other = root() / "Second folder";
        file = root() / "note.txt";
        package = root() / "Sheet.inkvale";
        fs::create_directories(folder);
        fs::create_directories(other);
        fs::create_directories(package);
        test::writeFile(file, "note");
        fs::create_symlink(folder, root() / "link to folder");
    }
    fs::path folder, other, file, package;
};

TEST_F(NIDragViewTest, AcceptsOnlyWhenTheFirstItemIsAFolderThatIsNotAPackage) {
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("/just/some/text"));
    const struct {
        const char* what;
        std::unique_ptr<QMimeData> data;
        bool accepted;
    } cases[] = {
        {"folder", urls({fileURL(folder)}), true},
        {"folder with trailing slash", urls({QUrl(fileURL(folder).toString() + QLatin1Char('/'))}), true},
        {"folder then file", urls({fileURL(folder), fileURL(file)}), true},
        {"plain file", urls({fileURL(file)}), false},
        {"package", urls({fileURL(package)}), false},
        {"file then folder", urls({fileURL(file), fileURL(folder)}), false},
        {"missing item", urls({fileURL(root() / "gone")}), false},
        {"link to a folder", urls({fileURL(root() / "link to folder")}), false},
        {"web address", urls({QUrl(QStringLiteral("https://example.com/folder/"))}), false},
        {"text only", std::move(text), false},
        {"no URLs", urls({}), false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        NIDragView view;
        const DragAnswer answer = enter(view, each.data.get());
        EXPECT_EQ(answer.accepted, each.accepted);
        EXPECT_EQ(view.highlighted(), each.accepted);
        if (each.accepted) {
            EXPECT_EQ(answer.action, Qt::CopyAction);
        }
    }
}

TEST_F(NIDragViewTest, NeverAgreesToMoveTheDraggedFolder) {
    NIDragView view;
    const auto data = urls({fileURL(folder)});
    EXPECT_FALSE(enter(view, data.get(), Qt::MoveAction).accepted);
    EXPECT_FALSE(view.highlighted());

    ASSERT_TRUE(enter(view, data.get()).accepted);
    // Holding Shift proposes a move part-way; the answer stays a copy.
    QDragMoveEvent move(QPoint(30, 30), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                        Qt::ShiftModifier);
    QCoreApplication::sendEvent(&view, &move);
    EXPECT_TRUE(move.isAccepted());
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
}

TEST_F(NIDragViewTest, DropHandsExactlyTheFirstFolderToTheDelegateOnce) {
    RecordingDelegate delegate;
    NIDragView view;
    view.setDelegate(&delegate);
    const auto twoFolders = urls({fileURL(folder), fileURL(other)});
    ASSERT_TRUE(enter(view, twoFolders.get()).accepted);
    EXPECT_TRUE(drop(view, twoFolders.get()));
    EXPECT_EQ(delegate.received, std::vector<fs::path>{folder});
    EXPECT_FALSE(view.highlighted());

    // A folder that is gone by the time of the drop reaches nobody.
    const fs::path vanishing = root() / "Vanishing";
    fs::create_directories(vanishing);
    const auto vanishingFolder = urls({fileURL(vanishing)});
    ASSERT_TRUE(enter(view, vanishingFolder.get()).accepted);
    fs::remove(vanishing);
    EXPECT_FALSE(drop(view, vanishingFolder.get()));
    EXPECT_EQ(delegate.received.size(), 1u);
    EXPECT_FALSE(view.highlighted());

    view.setDelegate(nullptr);
    ASSERT_TRUE(enter(view, twoFolders.get()).accepted);
    EXPECT_TRUE(drop(view, twoFolders.get()));
    EXPECT_EQ(delegate.received.size(), 1u);
}

TEST_F(NIDragViewTest, RepaintsOncePerHighlightChangeAndOnlyThen) {
    CountingDragView view;
    view.resize(200, 150);
    view.show();
    settle();
    const int initial = view.paints;
    ASSERT_GE(initial, 1);

    const auto data = urls({fileURL(folder)});
    enter(view, data.get());
    settle();
    EXPECT_TRUE(view.highlighted());
    EXPECT_EQ(view.paints, initial + 1);

    leave(view);
    settle();
    EXPECT_FALSE(view.highlighted());
    EXPECT_EQ(view.paints, initial + 2);

    view.setHighlighted(false);
    settle();
    EXPECT_EQ(view.paints, initial + 2);

    const auto plainFile = urls({fileURL(file)});
    enter(view, plainFile.get());
    settle();
    EXPECT_EQ(view.paints, initial + 2);
}

TEST_F(NIDragViewTest, DrawsGreyOrHalfBlueWithADashedBorderFromTheHook) {
    const auto colourAt = [](const QImage& image, int x, int y) { return image.pixelColor(x, y); };
    const auto near = [](const QColor& colour, int red, int green, int blue) {
        return std::abs(colour.red() - red) <= 2 && std::abs(colour.green() - green) <= 2 &&
               std::abs(colour.blue() - blue) <= 2;
    };

    NIDragView view;
    view.resize(200, 150);
    QImage idle = view.grab().toImage();
    EXPECT_TRUE(near(colourAt(idle, 100, 75), 204, 204, 204));
    // The corner lies outside the rounded background.
    EXPECT_FALSE(near(colourAt(idle, 0, 0), 204, 204, 204));
    // The left border is dashed: dark grey dashes with the grey fill between them.
    int dashPixels = 0, gapPixels = 0;
    for (int y = 20; y < 130; ++y) {
        if (near(colourAt(idle, 2, y), 85, 85, 85)) ++dashPixels;
        if (near(colourAt(idle, 2, y), 204, 204, 204)) ++gapPixels;
    }
    EXPECT_GT(dashPixels, 60);
    EXPECT_GT(gapPixels, 20);

    view.setHighlighted(true);
    const QImage highlighted = view.grab().toImage();
    const QColor behind = view.palette().color(QPalette::Window);
    EXPECT_TRUE(near(colourAt(highlighted, 100, 75), (17 + behind.red()) / 2, (108 + behind.green()) / 2,
                     (214 + behind.blue()) / 2));
    int blueDashPixels = 0;
    for (int y = 20; y < 130; ++y) blueDashPixels += near(colourAt(highlighted, 2, y), 17, 108, 214) ? 1 : 0;
    EXPECT_GT(blueDashPixels, 60);

    SolidBorderDragView solid;
    solid.resize(200, 150);
    const QImage plain = solid.grab().toImage();
    for (int y = 20; y < 130; ++y) ASSERT_TRUE(near(colourAt(plain, 2, y), 85, 85, 85)) << y;
}

}  // namespace
}  // namespace ni
