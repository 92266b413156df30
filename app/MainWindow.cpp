#include "app/MainWindow.hpp"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "NIConfig.hpp"
#include "app/FileViewer.hpp"
#include "app/NIDragView.hpp"
#include "app/NoticesDialog.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "ui_MainWindow.h"

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
// The notices line's amber, for light grounds and for dark ones.
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

// The amber that reads better on ground; black or white where neither amber reads well enough.
QColor noticesColourOn(const QColor& ground) {
    const auto better = [&ground](const QColor& one, const QColor& other) {
        return contrastRatio(one, ground) >= contrastRatio(other, ground) ? one : other;
    };
    const QColor amber = better(kAmberOnLight, kAmberOnDark);
    return contrastRatio(amber, ground) >= kMinimumContrast ? amber : better(Qt::black, Qt::white);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::MainWindow>()),
      progressDelay_(kProgressDelayMilliseconds) {
    ui_->setupUi(this);
    ui_->dragView->setDelegate(this);
    // Drops over the label and button land on the drop view beneath them.
    ui_->statusLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(ui_->actionQuit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(ui_->actionAbout, &QAction::triggered, this, &MainWindow::showAbout);

    // "12 notes · 3 need a look" and the way to the details, under the status label.
    noticesLine_ = new QWidget(ui_->dragView);
    noticesLine_->setObjectName(QStringLiteral("noticesLine"));
    auto* noticesLayout = new QHBoxLayout(noticesLine_);
    noticesLayout->setContentsMargins(0, 0, 0, 0);
    noticesLabel_ = new QLabel(noticesLine_);
    noticesLabel_->setObjectName(QStringLiteral("noticesLabel"));
    noticesLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    detailsButton_ = new QPushButton(tr("Details…"), noticesLine_);
    detailsButton_->setObjectName(QStringLiteral("detailsButton"));
    detailsButton_->setToolTip(tr("List what the conversion left out or changed."));
    noticesLayout->addStretch();
    noticesLayout->addWidget(noticesLabel_);
    noticesLayout->addWidget(detailsButton_);
    noticesLayout->addStretch();
    ui_->dragViewLayout->insertWidget(ui_->dragViewLayout->indexOf(ui_->statusLabel) + 1, noticesLine_);
    connect(detailsButton_, &QPushButton::clicked, this, &MainWindow::showNoticesDialog);
    ui_->dragView->installEventFilter(this);
    updateNoticesColour();
    pendingExportChanged(false);
}

MainWindow::~MainWindow() = default;

NIDragView* MainWindow::dragView() const { return ui_->dragView; }

void MainWindow::setAppDelegate(AppDelegate* appDelegate) {
    appDelegate_ = appDelegate;
    connect(ui_->actionOpenFolder, &QAction::triggered, this, [this] {
        if (!busy_ && appDelegate_ != nullptr) appDelegate_->openFolder();
    });
    const auto saveFiles = [this] {
        if (!busy_ && appDelegate_ != nullptr) appDelegate_->saveFiles();
    };
    connect(ui_->actionSaveFiles, &QAction::triggered, this, saveFiles);
    connect(ui_->saveButton, &QPushButton::clicked, this, saveFiles);
    // Closing the window, the Quit command and a termination signal all end here.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (appDelegate_ != nullptr) appDelegate_->applicationWillTerminate();
    });
}

void MainWindow::convertFolderAtStart(const std::filesystem::path& folder) {
    QTimer::singleShot(0, this, [this, folder] {
        if (busy_ || appDelegate_ == nullptr) return;
        runBusy([this, &folder] { appDelegate_->runFolderConversionAtURL(folder); });
    });
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
        runBusy([this, &url] { appDelegate_->dragViewDidReceiveURL(url); });
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

void MainWindow::setStatusText(const std::string& text) {
    ui_->statusLabel->setText(fromCore("ni::AppDelegate", text));
}

void MainWindow::pendingExportChanged(bool pending) {
    ui_->actionSaveFiles->setEnabled(pending);
    ui_->saveButton->setVisible(pending);
    updateNoticesLine(pending);
}

void MainWindow::updateNoticesLine(bool pending) {
    const ConversionSummary* summary =
        pending && appDelegate_ != nullptr ? &appDelegate_->lastConversionSummary() : nullptr;
    if (summary == nullptr || summary->notices.empty()) {
        noticesLine_->hide();
        return;
    }
    const auto count = [](std::size_t n, const QString& one, const QString& many) {
        return (n == 1 ? one : many).arg(n);
    };
    noticesLabel_->setText(count(summary->notes, tr("%1 note"), tr("%1 notes")) + QStringLiteral(" · ") +
                           count(summary->notices.size(), tr("%1 needs a look"), tr("%1 need a look")));
    noticesLine_->show();
}

void MainWindow::updateNoticesColour() {
    // The drop view paints its own ground, whatever the palette says, over the window's: the colour
    // is chosen against a pixel of what it paints, its children left out.
    QImage ground(1, 1, QImage::Format_RGB32);
    ground.fill(palette().color(QPalette::Window));
    const QPoint centre = ui_->dragView->rect().center();
    ui_->dragView->render(&ground, QPoint(), QRegion(centre.x(), centre.y(), 1, 1), {});
    QPalette colours = noticesLabel_->palette();
    colours.setColor(QPalette::WindowText, noticesColourOn(ground.pixelColor(0, 0)));
    noticesLabel_->setPalette(colours);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->dragView && event->type() == QEvent::PaletteChange) updateNoticesColour();
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
    auto* dialog = new QFileDialog(this, tr("Choose a Folder"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, tr("Choose"));
    const auto finish = [this, dialog, completion = std::move(completion)](int result) {
        std::optional<std::filesystem::path> folder;
        const QStringList selected = dialog->selectedFiles();
        if (result != QDialog::Rejected && !selected.isEmpty()) folder = toPath(selected.front());
        dialog->deleteLater();
        if (!folder) {
            completion(std::nullopt);
            return;
        }
        runBusy([&] { completion(folder); });
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

void MainWindow::revealInFileViewer(const std::filesystem::path& url) { revealItemInFileViewer(url, this); }

void MainWindow::setProgressDelay(qint64 milliseconds) { progressDelay_ = milliseconds; }

void MainWindow::conversionProgress(ConversionPhase phase, std::size_t done, std::size_t total) {
    if (!busy_) return;
    const qint64 now = busyTimer_.elapsed();
    if (progress_ == nullptr) {
        if (now < progressDelay_) return;
        // Window-modal: the dialog's Cancel takes clicks while the window beneath takes none.
        progress_ = new QProgressDialog(this);
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setWindowTitle(tr("Converting"));
        progress_->setCancelButtonText(tr("Cancel"));
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(0);
        progress_->setMinimumWidth(320);
        // The conversion stops between two notes and removes what it wrote.
        connect(progress_, &QProgressDialog::canceled, this, [this] {
            requestCancellation();
            if (progress_ != nullptr) progress_->setLabelText(tr("Cancelling…"));
        });
        progress_->show();
    } else if (now - lastProgressUpdate_ < kProgressIntervalMilliseconds || cancellationRequested()) {
        return;
    }
    lastProgressUpdate_ = now;
    const QString text = phase == ConversionPhase::ReadingNotes ? tr("Reading notes… %1 of %2")
                                                                : tr("Writing sheets… %1 of %2");
    progress_->setLabelText(text.arg(done).arg(total));
    progress_->setMaximum(static_cast<int>(std::min<std::size_t>(total, INT_MAX)));
    progress_->setValue(static_cast<int>(std::min<std::size_t>(done, INT_MAX)));
    QCoreApplication::processEvents();
}

}  // namespace ni
