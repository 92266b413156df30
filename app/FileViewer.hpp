#pragma once

#include <QDBusConnection>
#include <filesystem>
#include <functional>

class QObject;

namespace ni {

// Shows item selected in the user's file manager (org.freedesktop.FileManager1
// ShowItems on bus); where no file manager answers, opens the folder holding it
// with the desktop's default handler. Returns at once; context owns the pending
// call, and answered, when given, is told later whether a file manager answered.
void revealItemInFileViewer(const std::filesystem::path& item, QObject* context,
                            const QDBusConnection& bus = QDBusConnection::sessionBus(),
                            const std::function<void(bool answered)>& answered = {});

}  // namespace ni
