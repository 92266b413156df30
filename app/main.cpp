#include "app/Application.hpp"
#include "app/MainWindow.hpp"
#include "conversion/AppDelegate.hpp"

int main(int argc, char* argv[]) {
    ni::Application application(argc, argv);
    ni::MainWindow window;
    ni::AppDelegate appDelegate(&window);
    window.setAppDelegate(&appDelegate);
    window.show();
    return application.exec();
}
