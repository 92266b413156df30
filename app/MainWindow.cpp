#include "app/MainWindow.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "NIConfig.hpp"
#include "app/FileViewer.hpp"
#include "app/NIDragView.hpp"
#include "app/NoticesDialog.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/ArchiveExport.hpp"
#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "platform/UTF8.hpp"
#include "ui_MainWindow.h"
#include "utilities/StringPathUtilities.hpp"

namespace ni {

namespace {

// Texts that reach the window from the Qt-free core, for the translators.
[[maybe_unused]] const char* const kCoreTexts[] = {
    QT_TRANSLATE_NOOP("ni::AppDelegate", "DRAG NOTARA FOLDER HERE"),
    QT_TRANSLATE_NOOP("ni::AppDelegate", "IMPORT SUCCESSFUL"),
    QT_TRANSLATE_NOOP("ni::Alert", "No files found"),
    QT_TRANSLATE_NOOP("ni::Alert", "OK"),
};

QString fromCore(const char* context, const std::string& text) {
    return QCoreApplication::translate(context, text.c_str());
}

std::filesystem::path toPath(const QString& localFile) {
    return std::filesystem::path(QFile::encodeName(localFile).toStdString());
}

QString fromPath(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

// The Open panel takes a folder or a zipped export; Qt's folder mode alone
// would refuse the file.
class ExportPanel : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void accept() override {
        const QStringList files = selectedFiles();
        if (fileMode() == QFileDialog::Directory && !testOption(QFileDialog::ShowDirsOnly) &&
            !files.isEmpty() && QFileInfo(files.front()).isFile() && isArchiveName(toPath(files.front())))
            return QDialog::accept();
        QFileDialog::accept();
    }
};

// The path as the user reads it: the home folder as "~".
QString abbreviatedPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(stringByAbbreviatingUserDirectoryInPath(lossyUTF16(path.native())));
}

// Where the save panel starts in a run that hasn't saved yet.
QString documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString sheetCount(std::size_t n) {
    return (n == 1 ? MainWindow::tr("%1 sheet") : MainWindow::tr("%1 sheets")).arg(n);
}

// A message box shows the ordinary pointer even while the window is busy.
int execWithArrowCursor(QDialog& dialog) {
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = dialog.exec();
    QApplication::restoreOverrideCursor();
    return result;
}

// How long a conversion runs before its progress is shown.
constexpr qint64 kProgressDelayMilliseconds = 500;
// How often the shown progress is brought up to date: an update and an event
// loop pass per note would cost as much as converting the note.
constexpr qint64 kProgressIntervalMilliseconds = 100;

// Small text is read comfortably from this WCAG contrast ratio on.
constexpr double kMinimumContrast = 4.5;
// The text's grey and the amber of a line that needs a look, for light grounds and for dark ones.
const QColor kInkOnLight(0x33, 0x33, 0x33);
const QColor kInkOnDark(0xee, 0xee, 0xee);
const QColor kAmberOnLight(0x6b, 0x45, 0x00);
const QColor kAmberOnDark(0xf2, 0xb8, 0x4b);

// The WCAG relative luminance of an sRGB colour: 0 for black, 1 for white.
double relativeLuminance(const QColor& color) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

// The WCAG contrast ratio of two colours: 1 for none, 21 for black on white.
double contrastRatio(const QColor& one, const QColor& other) {
    const double a = relativeLuminance(one), b = relativeLuminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// Of the colours for light and dark grounds, the one that reads better on ground; black or white
// where neither reads well enough.
QColor textColourOn(const QColor& ground, const QColor& onLight, const QColor& onDark) {
    const auto better = [&ground](const QColor& one, const QColor& other) {
        return contrastRatio(one, ground) >= contrastRatio(other, ground) ? one : other;
    };
    const QColor colour = better(onLight, onDark);
    return contrastRatio(colour, ground) >= kMinimumContrast ? colour : better(Qt::black, Qt::white);
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::MainWindow>()),
      progressDelay_(kProgressDelayMilliseconds) {
    ui_->setupUi(this);
    ui_->dragView->setDelegate(this);
    // Drops over the labels land on the drop view beneath them.
    ui_->statusLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui_->summaryLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Quit closes the window, as its close button does: both ask about a pending export.
    connect(ui_->actionQuit, &QAction::triggered, this, &QWidget::close);
    connect(ui_->actionAbout, &QAction::triggered, this, &MainWindow::showAbout);
    connect(ui_->detailsButton, &QPushButton::clicked, this, &MainWindow::showNoticesDialog);
    connect(ui_->showInFolderButton, &QPushButton::clicked, this, &MainWindow::revealSavedExport);
    connect(ui_->dragView, &NIDragView::highlightedChanged, this, &MainWindow::updateTextColours);
    ui_->dragView->installEventFilter(this);
    ui_->dragView->setAccessibleName(ui_->statusLabel->text());
    pendingExportChanged(false);
}

MainWindow::~MainWindow() = default;

NIDragView* MainWindow::dragView() const { return ui_->dragView; }

void MainWindow::setAppDelegate(AppDelegate* appDelegate) {
    appDelegate_ = appDelegate;
    connect(ui_->actionOpenFolder, &QAction::triggered, this, &MainWindow::openFolder);
    connect(ui_->dragView, &NIDragView::activated, this, &MainWindow::openFolder);
    const auto saveFiles = [this] { saveSheets(); };
    connect(ui_->actionSaveFiles, &QAction::triggered, this, saveFiles);
    connect(ui_->saveButton, &QPushButton::clicked, this, saveFiles);
    // Closing the window, the Quit command, the end of the session and a termination signal all end here.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (appDelegate_ != nullptr) appDelegate_->applicationWillTerminate();
    });
}

void MainWindow::convertFolderAtStart(const std::filesystem::path& folder) {
    QTimer::singleShot(0, this, [this, folder] {
        if (busy_ || appDelegate_ == nullptr) return;
        runConversion([this, &folder] { appDelegate_->runFolderConversionAtURL(folder); });
    });
}

void MainWindow::openFolder() {
    if (busy_ || appDelegate_ == nullptr) return;
    askAboutPendingExport(tr("Save the converted sheets before converting another folder?"), [this] {
        if (!busy_ && appDelegate_ != nullptr) appDelegate_->openFolder();
    });
}

void MainWindow::saveSheets(std::function<void()> afterMove) {
    if (busy_ || appDelegate_ == nullptr || !appDelegate_->exportURL()) return;
    afterMove_ = std::move(afterMove);
    // saveFiles opens its folder panel at once: that panel is the save panel.
    choosingSaveFolder_ = true;
    appDelegate_->saveFiles();
    choosingSaveFolder_ = false;
}

void MainWindow::askAboutPendingExport(const QString& question, std::function<void()> proceed) {
    if (appDelegate_ == nullptr || !appDelegate_->exportURL()) {
        proceed();
        return;
    }
    // One question at a time; a second request waits for the user to answer the first.
    if (question_ != nullptr) return;
    const ConversionSummary& summary = appDelegate_->lastConversionSummary();
    const QString source = QString::fromStdString(displayPath(summary.source.filename()));
    question_ = new QMessageBox(QMessageBox::Question, QGuiApplication::applicationDisplayName(), question,
                                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    question_->setObjectName(QStringLiteral("pendingExportQuestion"));
    question_->setInformativeText(
        summary.notes == 1
            ? tr("The sheet converted from “%1” is in a temporary folder and is removed unless you save it.")
                  .arg(source)
            : tr("The %1 sheets converted from “%2” are in a temporary folder and are removed unless you "
                 "save them.")
                  .arg(QString::number(summary.notes), source));
    // Named by what they do here, not by a desktop's wording for documents ("Close without Saving").
    question_->button(QMessageBox::Save)->setText(tr("Save Sheets…"));
    question_->button(QMessageBox::Discard)->setText(tr("Discard"));
    question_->setDefaultButton(QMessageBox::Save);
    question_->setEscapeButton(QMessageBox::Cancel);
    question_->setWindowModality(Qt::WindowModal);
    connect(question_, &QDialog::finished, this,
            [this, box = question_.data(), proceed = std::move(proceed)] {
                const QMessageBox::StandardButton answer = box->standardButton(box->clickedButton());
                question_.clear();
                box->deleteLater();
                if (appDelegate_ == nullptr) return;
                if (answer == QMessageBox::Save) {
                    saveSheets(proceed);
                } else if (answer == QMessageBox::Discard) {
                    appDelegate_->discardExport();
                    proceed();
                }
            });
    question_->open();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A running conversion or move is stopped with its progress dialog's Cancel, not by closing.
    if (busy_) {
        event->ignore();
        return;
    }
    if (appDelegate_ == nullptr || !appDelegate_->exportURL()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    // Saved or discarded, nothing is pending and the window closes.
    askAboutPendingExport(tr("Save the converted sheets before quitting?"), [this] { close(); });
}

void MainWindow::showAbout() {
    QMessageBox::about(
        this, tr("About notara2inkvale"),
        tr("<h3>notara2inkvale %1</h3>"
           "<p>Turns the export folder of the notes application Notara into sheets of the writing "
           "application Inkvale.</p>"
           "<p>Copyright © 2026 The notara2inkvale authors.<br>Released under the MIT licence.</p>")
            .arg(QString::fromUtf8(config::kVersion)));
}

void MainWindow::dragViewDidReceiveURL(const std::filesystem::path& url) {
    if (busy_ || appDelegate_ == nullptr) return;
    // Converted once the drop has returned, so the dragging file manager isn't kept waiting.
    QTimer::singleShot(0, this, [this, url] {
        if (busy_ || appDelegate_ == nullptr) return;
        askAboutPendingExport(tr("Save the converted sheets before converting another folder?"), [this, url] {
            if (!busy_ && appDelegate_ != nullptr)
                runConversion([this, &url] { appDelegate_->dragViewDidReceiveURL(url); });
        });
    });
}

void MainWindow::runBusy(const std::function<void()>& work) {
    busy_ = true;
    busyTimer_.start();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    work();
    delete progress_;
    QApplication::restoreOverrideCursor();
    busy_ = false;
    // The user's Cancel is answered; a signal's request stays, as the window quits next.
    if (cancellationSignal() == 0) clearCancellation();
}

void MainWindow::runConversion(const std::function<void()>& work) {
    savedExport_.reset();
    updateSummaryLine();
    runBusy(work);
}

void MainWindow::setStatusText(const std::string& text) {
    ui_->statusLabel->setText(fromCore("ni::AppDelegate", text));
    // The drop view is named by what it says, so a screen reader on it hears the change.
    ui_->dragView->setAccessibleName(ui_->statusLabel->text());
}

void MainWindow::pendingExportChanged(bool pending) {
    ui_->actionSaveFiles->setEnabled(pending);
    updateSummaryLine();
}

void MainWindow::updateSummaryLine() {
    const bool pending = appDelegate_ != nullptr && appDelegate_->exportURL().has_value();
    const bool saved = !pending && savedExport_.has_value();
    // The notices stay after a move: it may have added its own (names a disk refused).
    const bool notices = (pending || saved) && !appDelegate_->lastConversionSummary().notices.empty();
    const std::size_t looks = notices ? appDelegate_->lastConversionSummary().notices.size() : 0;
    const QString needLook = (looks == 1 ? tr("%1 needs a look") : tr("%1 need a look")).arg(looks);
    QString text;
    if (pending) {
        const ConversionSummary& summary = appDelegate_->lastConversionSummary();
        text = notices ? tr("%1 ready · %2").arg(sheetCount(summary.notes), needLook)
                       : tr("%1 ready · not saved yet").arg(sheetCount(summary.notes));
    } else if (saved && savedExportShown_) {
        text = tr("Saved %1 to %2").arg(sheetCount(savedSheets_), abbreviatedPath(*savedExport_));
    } else if (saved) {
        text = (savedSheets_ == 1 ? tr("No file manager answered; the sheet is in %1")
                                  : tr("No file manager answered; the sheets are in %1"))
                   .arg(abbreviatedPath(*savedExport_));
    }
    if (saved && notices) text = tr("%1 · %2").arg(text, needLook);
    ui_->summaryLabel->setText(text);
    ui_->summaryLabel->setHidden(text.isEmpty());
    ui_->saveButton->setVisible(pending);
    ui_->detailsButton->setVisible(notices);
    ui_->showInFolderButton->setVisible(saved);
    summaryWarns_ = notices || (saved && !savedExportShown_);
    updateTextColours();
}

void MainWindow::updateTextColours() {
    // The drop view paints its own ground, whatever the palette says, over the window's, and a
    // drag's highlight lets the window through: the colours are chosen against a pixel of what it
    // paints now, its children left out.
    QImage ground(1, 1, QImage::Format_RGB32);
    ground.fill(palette().color(QPalette::Window));
    const QPoint centre = ui_->dragView->rect().center();
    ui_->dragView->render(&ground, QPoint(), QRegion(centre.x(), centre.y(), 1, 1), {});
    const QColor beneath = ground.pixelColor(0, 0);
    setTextColour(ui_->statusLabel, textColourOn(beneath, kInkOnLight, kInkOnDark));
    setTextColour(ui_->summaryLabel, summaryWarns_ ? textColourOn(beneath, kAmberOnLight, kAmberOnDark)
                                                   : textColourOn(beneath, kInkOnLight, kInkOnDark));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->dragView && event->type() == QEvent::PaletteChange) updateTextColours();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showNoticesDialog() {
    if (appDelegate_ == nullptr) return;
    auto* dialog = new NoticesDialog(appDelegate_->lastConversionSummary(), this);
    dialog->setObjectName(QStringLiteral("noticesDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

int MainWindow::runAlert(const Alert& alert) {
    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setText(fromCore("ni::Alert", alert.messageText));
    if (!alert.informativeText.empty()) box.setInformativeText(fromCore("ni::Alert", alert.informativeText));
    std::vector<QAbstractButton*> buttons;
    for (const std::string& title : alert.buttons) {
        buttons.push_back(box.addButton(fromCore("ni::Alert", title), QMessageBox::AcceptRole));
    }
    if (buttons.empty()) buttons.push_back(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));
    execWithArrowCursor(box);
    for (std::size_t index = 0; index < buttons.size(); ++index) {
        if (box.clickedButton() == buttons[index]) return static_cast<int>(index);
    }
    return 0;
}

void MainWindow::presentError(const Error& error) {
    QMessageBox box(this);
    box.setIcon(QMessageBox::Critical);
    const QString message = QString::fromStdString(error.message());
    const QString reason = QString::fromStdString(error.reason());
    box.setText(message);
    if (!reason.isEmpty() && !message.contains(reason)) box.setInformativeText(reason);
    box.setStandardButtons(QMessageBox::Ok);
    execWithArrowCursor(box);
}

void MainWindow::chooseFolder(PanelPresentation presentation,
                              std::function<void(std::optional<std::filesystem::path>)> completion) {
    const bool saving = std::exchange(choosingSaveFolder_, false);
    auto* dialog = new ExportPanel(this, saving ? tr("Save Sheets") : tr("Choose a Folder or Zip Archive"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, saving);
    if (!saving) {
        dialog->setNameFilter(tr("Folders and zipped exports (*.zip *.ZIP *.Zip)"));
        dialog->setLabelText(QFileDialog::FileName, tr("Folder or zip:"));
    }
    dialog->setLabelText(QFileDialog::Accept, saving ? tr("Save") : tr("Choose"));
    // Remembered for this run only: the next save likely goes where the last one went.
    if (saving) dialog->setDirectory(lastSaveFolder_ ? fromPath(*lastSaveFolder_) : documentsFolder());
    const auto finish = [this, dialog, saving, completion = std::move(completion)](int result) {
        std::optional<std::filesystem::path> folder;
        const QStringList selected = dialog->selectedFiles();
        if (result != QDialog::Rejected && !selected.isEmpty()) folder = toPath(selected.front());
        dialog->deleteLater();
        if (!folder)
            completion(std::nullopt);
        else if (saving)
            runBusy([&] { completion(folder); });
        else
            runConversion([&] { completion(folder); });
        // What waited for the save goes ahead only once the sheets have moved.
        const std::function<void()> afterMove = saving ? std::exchange(afterMove_, nullptr) : nullptr;
        if (afterMove && appDelegate_ != nullptr && !appDelegate_->exportURL()) afterMove();
    };
    if (presentation == PanelPresentation::WindowModalSheet) {
        dialog->setWindowModality(Qt::WindowModal);
        connect(dialog, &QDialog::finished, this, finish);
        dialog->open();
    } else {
        dialog->setWindowModality(Qt::ApplicationModal);
        finish(dialog->exec());
    }
}

void MainWindow::revealInFileViewer(const std::filesystem::path& url) {
    lastSaveFolder_ = url.parent_path();
    savedExport_ = url;
    savedSheets_ = appDelegate_ != nullptr ? appDelegate_->lastConversionSummary().notes : 0;
    savedExportShown_ = true;
    updateSummaryLine();
    revealSavedExport();
}

void MainWindow::revealSavedExport() {
    if (!savedExport_) return;
    const std::filesystem::path asked = *savedExport_;
    revealItemInFileViewer(asked, this, fileManagerBus_.value_or(QDBusConnection::sessionBus()),
                           [this, asked](bool answered) {
                               // A later save or conversion has a line of its own by now.
                               if (savedExport_ != asked) return;
                               savedExportShown_ = answered;
                               updateSummaryLine();
                           });
}

void MainWindow::setProgressDelay(qint64 milliseconds) { progressDelay_ = milliseconds; }

void MainWindow::conversionProgress(ConversionPhase phase, std::size_t done, std::size_t total) {
    if (!progressDue(tr("Converting"))) return;
    const QString text = phase == ConversionPhase::ReadingNotes ? tr("Reading notes… %1 of %2")
                                                                : tr("Writing sheets… %1 of %2");
    showProgress(text.arg(done).arg(total), done, total);
}

void MainWindow::moveProgress(const MoveProgress& progress) {
    if (!progressDue(tr("Saving Sheets"))) return;
    const QLocale locale;
    const auto size = [&locale](std::uintmax_t bytes) {
        return locale.formattedDataSize(static_cast<qint64>(std::min<std::uintmax_t>(bytes, INT64_MAX)), 1);
    };
    const QString text = tr("Copying sheets… %1 of %2 (%3 of %4)")
                             .arg(locale.toString(static_cast<qulonglong>(progress.unitsDone)),
                                  locale.toString(static_cast<qulonglong>(progress.unitsTotal)),
                                  size(progress.bytesDone), size(progress.bytesTotal));
    // The bar follows the bytes, which take the time; the sheets where there are none.
    const bool bytes = progress.bytesTotal > 0;
    const std::uintmax_t done = bytes ? progress.bytesDone : progress.unitsDone;
    const std::uintmax_t total = bytes ? progress.bytesTotal : progress.unitsTotal;
    showProgress(text, total == 0 ? 0 : done * 1000 / total, total == 0 ? 0 : 1000);
}

bool MainWindow::progressDue(const QString& title) {
    if (!busy_) return false;
    const qint64 now = busyTimer_.elapsed();
    if (progress_ == nullptr) {
        if (now < progressDelay_) return false;
        // Window-modal: the dialog's Cancel takes clicks while the window beneath takes none.
        progress_ = new QProgressDialog(this);
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setWindowTitle(title);
        progress_->setCancelButtonText(tr("Cancel"));
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(0);
        progress_->setMinimumWidth(400);  // wide enough that the sizes' changing text doesn't resize it
        // The conversion or the copy stops between two files and removes what it wrote.
        connect(progress_, &QProgressDialog::canceled, this, [this] {
            requestCancellation();
            if (progress_ != nullptr) progress_->setLabelText(tr("Cancelling…"));
        });
        progress_->show();
    } else if (now - lastProgressUpdate_ < kProgressIntervalMilliseconds || cancellationRequested()) {
        return false;
    }
    lastProgressUpdate_ = now;
    return true;
}

void MainWindow::showProgress(const QString& text, std::uintmax_t done, std::uintmax_t total) {
    progress_->setLabelText(text);
    progress_->setMaximum(static_cast<int>(std::min<std::uintmax_t>(total, INT_MAX)));
    progress_->setValue(static_cast<int>(std::min<std::uintmax_t>(done, INT_MAX)));
    QCoreApplication::processEvents();
}

}  // namespace ni
