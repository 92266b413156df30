#include "app/NoticesDialog.hpp"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "conversion/Report.hpp"
#include "platform/Error.hpp"

namespace ni {

namespace {

QString fromUTF8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

NoticesDialog::NoticesDialog(ConversionSummary summary, QWidget* parent)
    : QDialog(parent), summary_(std::move(summary)), table_(new QTableWidget(this)) {
    setWindowTitle(tr("Conversion Details"));
    const QString exportName = fromUTF8(displayPath(summary_.source.filename()));
    auto* heading = new QLabel(
        tr("Converting “%1” left these out or changed them; the rest converted as it is.").arg(exportName),
        this);
    heading->setWordWrap(true);

    table_->setColumnCount(3);
    table_->setHorizontalHeaderLabels({tr("Item"), tr("What"), tr("Message")});
    table_->setRowCount(static_cast<int>(summary_.notices.size()));
    for (int row = 0; row < table_->rowCount(); ++row) {
        const Notice& notice = summary_.notices[static_cast<std::size_t>(row)];
        // The export folder itself is named, so every row says where to look.
        const QString item = notice.path.empty() ? exportName : fromUTF8(displayPath(notice.path));
        const QString cells[] = {item, tr(std::string(noticeKindTitle(notice.kind)).c_str()),
                                 fromUTF8(notice.message)};
        for (int column = 0; column < 3; ++column) {
            auto* cell = new QTableWidgetItem(cells[column]);
            cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            cell->setToolTip(cells[column]);
            table_->setItem(row, column, cell);
        }
    }
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(true);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    // The order of the walk until a header is clicked.
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    table_->resizeColumnsToContents();
    table_->setColumnWidth(0, std::min(table_->columnWidth(0), 220));
    table_->setTextElideMode(Qt::ElideNone);
    // Messages wrap: rows are measured again whenever a column's width changes, the message column's
    // stretch as the dialog opens and resizes included. The header reports a stretch before it takes the
    // new width, so the measuring waits for the event loop, and a burst of changes costs one pass.
    auto* fitRows = new QTimer(this);
    fitRows->setSingleShot(true);
    fitRows->setInterval(0);
    connect(fitRows, &QTimer::timeout, table_, &QTableView::resizeRowsToContents);
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, fitRows, qOverload<>(&QTimer::start));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(tr("Copy"), QDialogButtonBox::ActionRole);
    QPushButton* save = buttons->addButton(tr("Save Report…"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this, &NoticesDialog::copyRows);
    connect(save, &QPushButton::clicked, this, &NoticesDialog::saveReport);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, table_);
    connect(copyShortcut, &QShortcut::activated, this, &NoticesDialog::copyRows);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(table_);
    layout->addWidget(buttons);
    resize(820, 440);
}

QString NoticesDialog::rowsAsText() const {
    QStringList lines;
    const bool all = table_->selectionModel()->selectedRows().isEmpty();
    for (int row = 0; row < table_->rowCount(); ++row) {
        if (!all && !table_->selectionModel()->isRowSelected(row, {})) continue;
        QStringList cells;
        for (int column = 0; column < table_->columnCount(); ++column)
            cells << table_->item(row, column)->text();
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void NoticesDialog::copyRows() const { QApplication::clipboard()->setText(rowsAsText()); }

void NoticesDialog::saveReport() {
    const QString suggested = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
                              QStringLiteral("/Notara Report.json");
    const QString chosen =
        QFileDialog::getSaveFileName(this, tr("Save Report"), suggested, tr("JSON reports (*.json)"));
    if (chosen.isEmpty()) return;
    const std::filesystem::path url(QFile::encodeName(chosen).toStdString());
    Error error;
    if (isInsideFolder(url, summary_.source)) {
        QMessageBox::warning(this, tr("Save Report"),
                             tr("The report can’t go inside the export folder, which is only ever read."));
        return;
    }
    if (!writeReportToURL(conversionReport(summary_, std::nullopt, false), url, &error))
        QMessageBox::critical(this, tr("Save Report"), QString::fromStdString(error.message()));
}

}  // namespace ni
