#include "app/Application.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <QIcon>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "NIConfig.hpp"

namespace ni {

namespace {

// Written by the signal handler, read on the main thread: the only safe way
// out of a handler into the event loop.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
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

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) return;
    signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &Application::terminationRequested);

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

Application::~Application() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
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
