#include "app/Application.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <QEvent>
#include <QIcon>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "NIConfig.hpp"
#include "platform/Cancellation.hpp"
#include "utilities/TemporaryFiles.hpp"

namespace ni {

namespace {

// Written by the signal handler, read on the main thread: the only safe way
// out of a handler into the event loop.
int signalPipe[2] = {-1, -1};

// Runs in the signal handler after the cancellation is recorded: a running
// conversion or move stops after its current file, and the event loop quits.
void wakeEventLoop(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("notara2inkvale"));
    setApplicationDisplayName(tr("Notara to Inkvale"));
    setApplicationVersion(QString::fromUtf8(config::kVersion));
    setDesktopFileName(QString::fromUtf8(config::kAppId));
    setWindowIcon(QIcon::fromTheme(QString::fromUtf8(config::kAppId)));

    // Runs killed earlier (or cut by a power loss) left their temporary folders.
    removeAbandonedTemporaryDirectories();

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) return;
    signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &Application::terminationRequested);

    // A signal ignored at start (SIGHUP under nohup) stays ignored.
    requestCancellationOnTerminationSignals(wakeEventLoop);
}

Application::~Application() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

bool Application::event(QEvent* event) {
    // Qt's own quit (the session manager's, or after the last window closed) would first close the
    // window, which asks about a pending export; a session that ends can't wait for an answer.
    if (event->type() == QEvent::Quit) {
        exit(0);
        return true;
    }
    return QApplication::event(event);
}

void Application::terminationRequested() {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    // exit() rather than quit(): nothing may veto it, and it also ends any open
    // dialog's loop; aboutToQuit then runs the clean-up.
    exit(0);
}

}  // namespace ni
