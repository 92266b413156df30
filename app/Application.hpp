#pragma once

#include <QApplication>

class QSocketNotifier;

namespace ni {

// The Qt application with the program's name and identity, which also turns
// SIGTERM, SIGINT and SIGHUP (a logout, a closed terminal) into an ordinary
// quit, so the pending export is cleaned up as when the window is closed; a
// conversion or move under way stops after its current file. The session
// manager's request to quit at the end of a session ends the program the same
// way: without asking about unsaved sheets. At start it removes the temporary
// folders of runs that were killed.
class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);
    ~Application() override;

protected:
    bool event(QEvent* event) override;

private:
    void terminationRequested();

    QSocketNotifier* signalNotifier_ = nullptr;
};

}  // namespace ni
