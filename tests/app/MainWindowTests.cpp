// The drop view and the main window with its controller: what a drop takes,
// the line under the label and the notices' details, the question about
// pending sheets, Cancel in the progress dialog, and how a moved export is
// shown in the file manager; the window program as a process: its command
// line, answered without a display, and termination signals, which remove the
// pending export without asking.

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>
#include <thread>
#include <tuple>

#include "TestSupport.hpp"
#include "app/FileViewer.hpp"
#include "app/MainWindow.hpp"
#include "app/NIDragView.hpp"
#include "app/NoticesDialog.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NIDragViewDelegate.hpp"
#include "platform/Cancellation.hpp"

namespace ni {
namespace {

using namespace test;

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

// The WCAG contrast ratio of two colours, from their relative luminance.
double contrastRatio(const QColor& one, const QColor& other) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
               0.0722 * linear(color.blueF());
    };
    const double a = luminance(one), b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

using NIDragViewTest = ScratchTest;

TEST_F(NIDragViewTest, TakesACopyOfAFirstItemThatIsAFolderButNotAPackageOrAZipAndDeliversItOnce) {
    const fs::path folder = root() / "Notara folder", file = root() / "note.txt";
    fs::create_directories(folder);
    fs::create_directories(root() / "Sheet.inkvale");
    fs::create_directories(root() / "folder.zip");
    writeFile(file, "note");
    const fs::path zip = root() / "Export.ZIP";
    writeFile(zip, "PK");
    const struct {
        std::vector<fs::path> items;
        bool accepted;
    } cases[] = {
        {{folder}, true},
        {{folder, file}, true},
        {{file}, false},
        {{zip}, true},
        {{root() / "folder.zip"}, true},  // a folder, whatever its name
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
    // Space and Enter stand in for a drop when the view has keyboard focus.
    TestDragView view;
    int activations = 0;
    QObject::connect(&view, &NIDragView::activated, [&activations] { ++activations; });
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_A}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &press);
    }
    EXPECT_EQ(activations, 3);
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
}

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

// A main window wired to its controller as the application does it, with no bus to a file
// manager and a stand-in for the desktop's default handler.
class WindowTest : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
        window.setFileManagerBus(QDBusConnection(QStringLiteral("no bus")));
        window.setAppDelegate(&appDelegate);
    }
    void TearDown() override {
        appDelegate.applicationWillTerminate();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        ScratchTest::TearDown();
    }
    template <class Widget>
    Widget* child(const char* name) const {
        return window.findChild<Widget*>(QString::fromLatin1(name));
    }
    QString status() const { return child<QLabel>("statusLabel")->text(); }
    QString line() const { return child<QLabel>("summaryLabel")->text(); }
    // The dialog of that kind on screen (those answered are deleted later), if any.
    template <class Dialog>
    Dialog* shown() const {
        for (auto* dialog : window.findChildren<Dialog*>())
            if (dialog->isVisible()) return dialog;
        return nullptr;
    }
    QFileDialog* panel() const { return shown<QFileDialog>(); }
    void choose(const fs::path& folder) const {
        panel()->selectFile(QString::fromStdString(folder.string()));
        static_cast<QDialog*>(panel())->accept();
    }

    FakeDesktop desktop;
    MainWindow window;
    AppDelegate appDelegate{&window};
};

// A dropped folder converts once the drop has returned; the save command and the line under the
// label follow the pending export, and the details list every notice, in walk order until sorted.
TEST_F(WindowTest, ADroppedFolderConvertsAndTheSaveCommandAndNoticesFollowThePendingExport) {
    const fs::path notes = root() / "Notes";
    writeFile(notes / "Empty picture.txt", "Empty\n\nPicture: \n");
    writeFile(notes / "a rather long name.md", "a");
    writeFile(notes / "a rather long name.txt", "a");
    writeFile(notes / "table.csv", "1,2");
    const auto* save = child<QAction>("actionSaveFiles");
    auto* saveButton = child<QPushButton>("saveButton");
    auto* label = child<QLabel>("summaryLabel");
    auto* details = child<QPushButton>("detailsButton");
    ASSERT_TRUE(save && saveButton && label && details);
    // The label, whether the save command is enabled, and whether its button and the line are hidden.
    const auto state = [&] {
        return std::make_tuple(status(), save->isEnabled(), saveButton->isHidden(), label->isHidden());
    };
    const auto idle = std::make_tuple(QStringLiteral("DRAG NOTARA FOLDER HERE"), false, true, true);
    EXPECT_EQ(state(), idle);

    const auto dropped = urls({notes});
    ASSERT_TRUE(send(*window.dragView(), dropped.get()));
    EXPECT_TRUE(send(*window.dragView(), dropped.get(), true));
    EXPECT_FALSE(appDelegate.exportURL());
    for (int round = 0; round < 5 && !appDelegate.exportURL(); ++round) QCoreApplication::processEvents();
    EXPECT_EQ(state(), std::make_tuple(QStringLiteral("IMPORT SUCCESSFUL"), true, false, false));
    EXPECT_EQ(line(), QStringLiteral("3 sheets ready · 3 need a look"));
    // Every control is named and described for assistive technology, the drop view by what the
    // label says, and the keyboard reaches them in this order.
    const std::pair<QWidget*, QString> controls[] = {
        {window.dragView(), QStringLiteral("IMPORT SUCCESSFUL")},
        {saveButton, QStringLiteral("Save Sheets")},
        {details, QStringLiteral("Details")},
        {child<QPushButton>("showInFolderButton"), "Show in Folder"}};
    QWidget* reached = window.dragView();
    for (const auto& [control, name] : controls) {
        while (reached->focusPolicy() == Qt::NoFocus) reached = reached->nextInFocusChain();
        EXPECT_EQ(std::exchange(reached, reached->nextInFocusChain()), control) << name.toStdString();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name), name);
        EXPECT_NE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Description), "");
    }
    // The label and the line read at WCAG AA on what is painted beneath them, in a light palette and
    // a dark one, during a drag too: a text's colour is where strokes cover whole pixels, the pixel
    // that contrasts most.
    window.show();
    for (const QColor ground : {QColor(0xef, 0xef, 0xef), QColor(0x35, 0x35, 0x35)})
        for (const bool dragging : {false, true}) {
            window.setPalette(QPalette(ground));
            window.dragView()->setHighlighted(dragging);
            for (const QLabel* text : {child<QLabel>("statusLabel"), label}) {
                const QImage shot =
                    window.grab(QRect(text->mapTo(&window, QPoint()), text->size())).toImage();
                const QColor beneath = shot.pixelColor(0, shot.height() / 2);
                double best = 1;
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x)
                        best = std::max(best, contrastRatio(shot.pixelColor(x, y), beneath));
                EXPECT_GE(best, 4.5) << text->text().toStdString() << " on " << beneath.name().toStdString();
            }
        }
    window.dragView()->setHighlighted(false);
    details->click();
    auto* dialog = window.findChild<NoticesDialog*>();
    ASSERT_TRUE(dialog);
    auto* table = dialog->findChild<QTableWidget*>();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Message"));
    EXPECT_TRUE(table->verticalHeader()->isHidden());  // rows are notices, not numbers
    // Once laid out, and again once narrowed, rows fit their wrapped messages: the renaming's wraps.
    QCoreApplication::processEvents();
    const int wrapped = table->rowHeight(1), oneLine = table->rowHeight(2);
    EXPECT_GT(wrapped, oneLine);
    dialog->resize(dialog->width() / 2, dialog->height());
    QCoreApplication::processEvents();
    EXPECT_GT(table->rowHeight(1), wrapped);
    EXPECT_GT(table->rowHeight(2), oneLine);
    EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("a rather long name.txt"));
    EXPECT_EQ(table->item(1, 1)->text(), QStringLiteral("Renamed"));
    EXPECT_EQ(table->item(2, 0)->text(), QStringLiteral("Notes")) << "the export folder is named";
    table->selectRow(0);
    dialog->copyRows();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("Empty picture.txt\tNo picture\tThe Picture line "
                             "names no file; the sheet has no picture.\n"));
    table->sortByColumn(1, Qt::DescendingOrder);
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("Skipped files"));
    dialog->close();
    ASSERT_EQ(appDelegate.runFolderConversionAtURL(notes), ConversionOutcome::Converted);
    appDelegate.setExportURL(std::nullopt);
    EXPECT_EQ(state(), idle);
}

// Cancel in the progress dialog stops the conversion, removes what it wrote and
// leaves the window as it was: the earlier export pending (a folder named at
// start converts without asking), the label unchanged.
TEST_F(WindowTest, CancelInTheProgressDialogLeavesTheWindowAsItWas) {
    const fs::path small = root() / "Small", big = root() / "Big";
    writeFile(small / "One.txt", "One\n");
    for (int i = 0; i < 3000; ++i) writeFile(big / ("Note " + std::to_string(i) + ".txt"), "Note\nText.\n");
    // The conversion runs inside the event loop pass that delivers the drop.
    window.dragView()->delegate()->dragViewDidReceiveURL(small);
    QCoreApplication::processEvents();
    const auto pending = appDelegate.exportURL();
    ASSERT_TRUE(pending);
    const QString label = status();

    // Clicks Cancel once the dialog is up; an error box would be a fault, and is closed.
    bool clicked = false, errorShown = false, waitCursor = false;
    QString cancelling;
    std::function<void()> clickCancel = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            errorShown = true;
            box->close();
        }
        if (auto* dialog = window.findChild<QProgressDialog*>(); dialog != nullptr && !clicked) {
            waitCursor =
                QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            for (auto* button : dialog->findChildren<QPushButton*>()) button->click();
            cancelling = dialog->labelText();
            clicked = true;
        }
        if (!clicked && window.isBusy()) QTimer::singleShot(0, &window, clickCancel);
    };
    window.setProgressDelay(0);
    window.convertFolderAtStart(big);
    QTimer::singleShot(0, &window, clickCancel);  // runs once the conversion shows its progress
    QCoreApplication::processEvents();

    EXPECT_TRUE(clicked);
    EXPECT_TRUE(waitCursor);
    EXPECT_EQ(cancelling, QStringLiteral("Cancelling…"));
    EXPECT_FALSE(errorShown);
    EXPECT_EQ(appDelegate.exportURL(), pending);
    EXPECT_EQ(status(), label);
    EXPECT_EQ(leftInTemporaryArea(), Names{pending->parent_path().filename()});
    EXPECT_FALSE(cancellationRequested());
}

// Quitting, closing, a drop or Open Folder… while sheets are pending asks first: Save Sheets… moves
// them and goes on, Discard removes them and goes on, Cancel (Escape's button) changes nothing.
// Without notices, the line says only that the sheets wait.
TEST_F(WindowTest, PendingSheetsGoOnlyWhereTheAnswerSays) {
    writeFile(root() / "Notes" / "One.txt", "One\n");
    writeFile(root() / "Other" / "Two.txt", "Two\n");
    const fs::path zipped = NI_TEST_DATA_DIR "/Other.zip";  // Two.txt, zipped
    enum Command { Quit, Close, Drop, Open };
    int row = 0;
    for (const Command command : {Quit, Close, Drop, Open})
        for (const auto answer : {QMessageBox::Save, QMessageBox::Discard, QMessageBox::Cancel}) {
            SCOPED_TRACE("command " + std::to_string(command) + ", answer " + std::to_string(answer));
            const bool quitting = command == Quit || command == Close, goesOn = answer != QMessageBox::Cancel;
            window.show();
            ASSERT_EQ(appDelegate.runFolderConversionAtURL(root() / "Notes"), ConversionOutcome::Converted);
            const fs::path pending = *appDelegate.exportURL(), chosen = root() / std::to_string(++row);
            fs::create_directories(chosen);
            if (command == Quit) child<QAction>("actionQuit")->trigger();
            if (command == Close) window.close();
            if (command == Drop) window.dragView()->delegate()->dragViewDidReceiveURL(root() / "Other");
            if (command == Open) child<QAction>("actionOpenFolder")->trigger();
            QCoreApplication::processEvents();  // a drop is taken up once it has returned
            auto* question = shown<QMessageBox>();
            ASSERT_TRUE(question);
            EXPECT_EQ(question->text(), quitting
                                            ? "Save the converted sheets before quitting?"
                                            : "Save the converted sheets before converting another folder?");
            EXPECT_EQ(question->defaultButton(), question->button(QMessageBox::Save));
            EXPECT_EQ(question->escapeButton(), question->button(QMessageBox::Cancel));
            question->button(answer)->click();
            if (answer == QMessageBox::Save) choose(chosen);

            EXPECT_EQ(fs::exists(pending), !goesOn);
            EXPECT_EQ(fs::exists(chosen / "Notara Export" / "One.inkvale"), answer == QMessageBox::Save);
            EXPECT_EQ(window.isHidden(), goesOn && quitting);
            EXPECT_EQ(panel() != nullptr, goesOn && command == Open);
            // The Open panel takes a zipped export too.
            if (panel()) choose(zipped);
            EXPECT_EQ(
                appDelegate.lastConversionSummary().source == (command == Open ? zipped : root() / "Other"),
                goesOn && !quitting);
            EXPECT_TRUE(quitting || line() == QStringLiteral("1 sheet ready · not saved yet"))
                << line().toStdString();
        }
}

// Runs the event loop until done() holds, or gives up after a generous while.
void runUntil(const std::function<bool()>& done) {
    for (QDeadlineTimer deadline(20000); !done() && !deadline.hasExpired(); QThread::msleep(5))
        QCoreApplication::processEvents();
}

// A moved export is shown selected in the file manager, or else its folder is opened; the line
// says where it went and whether a file manager answered, and Show in Folder asks again. The save
// panel starts in Documents, then where the last save went.
TEST_F(WindowTest, TheLineSaysWhereTheSheetsWentAndShowInFolderAsksTheFileManagerAgain) {
    const ScopedEnvironment home{{"HOME", root().c_str()}, {"XDG_CONFIG_HOME", (root() / "config").c_str()}};
    fs::create_directories(root() / "Documents");
    writeFile(root() / "Notes" / "One.txt", "One\n");
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
    window.setFileManagerBus(bus);
    const QString scratch = QString::fromStdString(root().string());

    ASSERT_EQ(appDelegate.runFolderConversionAtURL(root() / "Notes"), ConversionOutcome::Converted);
    child<QPushButton>("saveButton")->click();
    ASSERT_TRUE(panel());
    EXPECT_EQ(panel()->directory().absolutePath(), scratch + "/Documents");
    fs::create_directories(root() / "Chosen");
    choose(root() / "Chosen");
    const QString saved = scratch + "/Chosen/Notara Export";
    EXPECT_EQ(line(), "Saved 1 sheet to " + saved);
    runUntil([&] { return !desktop.opened.isEmpty(); });  // no file manager yet
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(scratch + "/Chosen")});
    EXPECT_EQ(line(), "No file manager answered; the sheet is in " + saved);

    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &desktop,
                                   QDBusConnection::ExportAllSlots));
    child<QPushButton>("showInFolderButton")->click();
    runUntil([&] { return line().startsWith(QStringLiteral("Saved")); });
    EXPECT_EQ(line(), "Saved 1 sheet to " + saved);
    EXPECT_EQ(desktop.shownItems, QStringList{QUrl::fromLocalFile(saved).toString(QUrl::FullyEncoded)});
    EXPECT_EQ(desktop.opened.size(), 1);

    ASSERT_EQ(appDelegate.runFolderConversionAtURL(root() / "Notes"), ConversionOutcome::Converted);
    child<QPushButton>("saveButton")->click();
    EXPECT_EQ(panel()->directory().absolutePath(), scratch + "/Chosen");
    panel()->reject();
}

// The window's command line is read before any window exists: none of these
// may need a display, so the program runs with none at all.
TEST(WindowCommandLine, AnswersWithoutADisplay) {
    // Arguments, exit code, and what standard output and standard error hold.
    const std::tuple<QStringList, int, const char*, const char*> cases[] = {
        {{"one", "two"}, 2, "", "2 folders given"},
        {{"--frobnicate"}, 2, "", "Unknown option 'frobnicate'"},
        {{"-style"}, 2, "", "Missing value after '-style'"},
        // Past the command line, a window needs a display: a message, not an abort.
        {{"folder"}, 1, "", "no display"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(variable));
    for (const auto& [arguments, exitCode, expectedOut, expectedErr] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(NI_APP_EXECUTABLE), arguments);
        ASSERT_TRUE(program.waitForFinished());
        const std::string out = program.readAllStandardOutput().toStdString();
        const std::string err = program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), exitCode) << err;
        EXPECT_TRUE(has(out, expectedOut) && (exitCode != 2 || out.empty())) << out;
        EXPECT_TRUE(has(err, expectedErr) && (exitCode != 2 || has(err, "Try 'notara2inkvale --help'")))
            << err;
    }
}

using QuitCleanupTest = ScratchTest;

// The program started on a folder (its name not UTF-8: it is found by its bytes), stopped the way a
// logout or Ctrl+C would; started as under nohup, it keeps ignoring SIGHUP and still quits cleanly.
TEST_F(QuitCleanupTest, TerminationSignalsRemoveThePendingExport) {
    const fs::path notes = root() / "Notes\xFF";
    writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    for (const auto& [signal, hangupIgnored] :
         {std::pair{SIGTERM, false}, {SIGINT, false}, {SIGTERM, true}}) {
        SCOPED_TRACE(std::to_string(signal) + (hangupIgnored ? " under nohup" : ""));
        const std::string log = (root() / "window").native();
        const pid_t pid = spawn({NI_APP_EXECUTABLE, notes.native()}, log, [ignore = hangupIgnored] {
            if (ignore) ::signal(SIGHUP, SIG_IGN);
        });
        bool pending = false;
        for (int wait = 0; wait < 600 && !pending; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (const std::string& unique : leftInTemporaryArea())
                pending = pending || fs::is_directory(tmp() / temporaryContainerName() / unique / "Notara Export");
        }
        ASSERT_TRUE(pending) << readFile(log + ".err");
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        unsigned long long ignored = 0;
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("SigIgn:")) ignored = std::stoull(line.substr(7), nullptr, 16);
        EXPECT_EQ((ignored >> (SIGHUP - 1)) & 1, hangupIgnored) << std::hex << ignored;
        ::kill(pid, signal);
        EXPECT_EQ(finish(pid, log).status, 0);
        EXPECT_EQ(leftInTemporaryArea(), Names{});
        EXPECT_TRUE(fs::exists(notes / "Groceries.txt"));
    }
}

}  // namespace
}  // namespace ni

#include "MainWindowTests.moc"
