#include "app/FileViewer.hpp"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace ni {

void revealItemInFileViewer(const std::filesystem::path& item, QObject* context, const QDBusConnection& bus,
                            const std::function<void(bool answered)>& answered) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(item.string()));
    const QUrl containingFolder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    const auto openContainingFolder = [containingFolder] { QDesktopServices::openUrl(containingFolder); };
    if (!bus.isConnected()) {
        openContainingFolder();
        if (answered) answered(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // The item's URI and an empty startup id.
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [openContainingFolder, answered](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) openContainingFolder();
                         if (answered) answered(!finished->isError());
                         finished->deleteLater();
                     });
}

}  // namespace ni
