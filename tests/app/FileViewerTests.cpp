#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QEventLoop>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include "app/FileViewer.hpp"

namespace ni {
namespace {

// Stands in for the user's file manager on a private bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shownItems;
    QString startupId;

public slots:
    void ShowItems(const QStringList& uris, const QString& startup) {
        shownItems = uris;
        startupId = startup;
    }
};

// Receives what the fallback hands to the desktop's default handler.
class OpenedURLs : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

// Runs the event loop until done() holds; gives up after a generous while so a
// broken build fails instead of hanging.
template <typename Done>
void runUntil(Done done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
}

class FileViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1")});
        if (!bus_.waitForStarted() || !bus_.waitForReadyRead()) GTEST_SKIP() << "no dbus-daemon to run";
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDBusConnection::disconnectFromBus(QStringLiteral("viewer"));
        QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
        bus_.kill();
        bus_.waitForFinished();
    }
    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address_, name); }

    OpenedURLs opened;
    QObject context;

private:
    QProcess bus_;
    QString address_;
};

TEST_F(FileViewerTest, AsksTheFileManagerToSelectTheMovedFolder) {
    FakeFileManager fileManager;
    QDBusConnection viewer = connect(QStringLiteral("viewer"));
    ASSERT_TRUE(viewer.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    ASSERT_TRUE(viewer.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                      QDBusConnection::ExportAllSlots));

    revealItemInFileViewer("/home/someone/Chosen/Notara Export", &context, connect(QStringLiteral("caller")));
    runUntil([&] { return !fileManager.shownItems.isEmpty(); });
    EXPECT_EQ(fileManager.shownItems,
              QStringList{QStringLiteral("file:///home/someone/Chosen/Notara%20Export")});
    EXPECT_EQ(fileManager.startupId, QString());
    QCoreApplication::processEvents();
    EXPECT_TRUE(opened.urls.isEmpty());
}

TEST_F(FileViewerTest, WithoutAFileManagerOpensTheContainingFolder) {
    revealItemInFileViewer("/home/someone/Chosen/Notara Export", &context, connect(QStringLiteral("caller")));
    runUntil([&] { return !opened.urls.isEmpty(); });
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("file:///home/someone/Chosen"))});

    // No session bus at all.
    opened.urls.clear();
    revealItemInFileViewer("/data/Notara Export", &context, QDBusConnection(QStringLiteral("not connected")));
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("file:///data"))});
}

}  // namespace
}  // namespace ni

#include "FileViewerTests.moc"
