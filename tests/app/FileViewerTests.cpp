#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include "app/FileViewer.hpp"

namespace ni {
namespace {

// Stands in for the user's file manager on a private bus, and for the desktop's default handler.
class FakeDesktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shownItems;
    QList<QUrl> opened;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shownItems = uris; }
    void open(const QUrl& url) { opened.append(url); }
};

// Runs the event loop until done() holds, or gives up after a generous while.
void runUntil(const std::function<bool()>& done) {
    for (QDeadlineTimer deadline(20000); !done() && !deadline.hasExpired(); QThread::msleep(5))
        QCoreApplication::processEvents();
}

TEST(FileViewerTest, SelectsTheItemInTheFileManagerOrElseOpensItsFolder) {
    FakeDesktop desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    const auto unsetHandler = qScopeGuard([] { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); });
    QObject context;
    revealItemInFileViewer("/data/Notara Export", &context, QDBusConnection(QStringLiteral("not connected")));
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl(QStringLiteral("file:///data"))});

    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address=1")});
    ASSERT_TRUE(daemon.waitForStarted() && daemon.waitForReadyRead()) << "dbus-daemon didn't start";
    const auto stop = qScopeGuard([&daemon] {
        QDBusConnection::disconnectFromBus(QStringLiteral("private"));
        daemon.kill();
        daemon.waitForFinished();
    });
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(daemon.readLine()).trimmed(),
                                                        QStringLiteral("private"));
    desktop.opened.clear();
    revealItemInFileViewer("/home/someone/Chosen/Notara Export", &context, bus);  // no file manager yet
    runUntil([&] { return !desktop.opened.isEmpty(); });
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl(QStringLiteral("file:///home/someone/Chosen"))});

    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &desktop,
                                   QDBusConnection::ExportAllSlots));
    desktop.opened.clear();
    revealItemInFileViewer("/home/someone/Chosen/Notara Export", &context, bus);
    runUntil([&] { return !desktop.shownItems.isEmpty(); });
    EXPECT_EQ(desktop.shownItems, QStringList{QStringLiteral("file:///home/someone/Chosen/Notara%20Export")});
    QCoreApplication::processEvents();
    EXPECT_TRUE(desktop.opened.isEmpty());
}

}  // namespace
}  // namespace ni

#include "FileViewerTests.moc"
