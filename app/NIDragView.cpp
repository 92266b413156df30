#include "app/NIDragView.hpp"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <filesystem>
#include <string>
#include <vector>

#include "conversion/ArchiveExport.hpp"
#include "conversion/NIDragViewDelegate.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {

namespace {

// The ground and the dashed border; the focus ring reads on the ground at better than 7:1.
const QColor kGround = QColor::fromRgbF(0.8, 0.8, 0.8);
const QColor kBorder = QColor::fromRgbF(1 / 3.0, 1 / 3.0, 1 / 3.0);
const QColor kFocusRing(0x33, 0x33, 0x33);

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// Never a move: a file manager deletes the source of a finished move drop,
// and the user's export must survive being dropped here.
Qt::DropAction harmlessAction(Qt::DropActions possible) {
    if (possible & Qt::CopyAction) return Qt::CopyAction;
    if (possible & Qt::LinkAction) return Qt::LinkAction;
    return Qt::IgnoreAction;
}

std::filesystem::path localPath(const QUrl& url) {
    std::filesystem::path path(QFile::encodeName(url.toLocalFile()).toStdString());
    // "file:///a/b/" names the folder b; keep its name as the last component.
    while (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return path;
}

}  // namespace

NIDragView::NIDragView(QWidget* parent) : QWidget(parent) {
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
}

NIDragView::~NIDragView() = default;

std::optional<QUrl> NIDragView::acceptableFolderURL(const QMimeData* mimeData) {
    if (mimeData == nullptr || !mimeData->hasUrls()) return std::nullopt;
    const QList<QUrl> urls = mimeData->urls();
    // Only the first item counts; the rest of a multiple drag is ignored.
    if (urls.isEmpty() || !urls.front().isLocalFile()) return std::nullopt;
    const std::filesystem::path path = localPath(urls.front());
    if (path.empty()) return std::nullopt;
    const auto values = uncachedResourceValuesForKeys(
        path, {std::string(kURLIsDirectoryKey), std::string(kURLIsPackageKey)}, nullptr);
    if (!values) return std::nullopt;
    const auto directory = values->find(kURLIsDirectoryKey);
    // A zipped export is taken as its folder is.
    if (directory != values->end() && !directory->second && isArchiveName(path) &&
        QFileInfo(urls.front().toLocalFile()).isFile())
        return urls.front();
    if (directory == values->end() || !directory->second) return std::nullopt;
    const auto package = values->find(kURLIsPackageKey);
    if (package != values->end() && package->second) return std::nullopt;
    return urls.front();
}

void NIDragView::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_) return;
    highlighted_ = highlighted;
    update();
    emit highlightedChanged(highlighted);
}

void NIDragView::dragEnterEvent(QDragEnterEvent* event) {
    const Qt::DropAction action = harmlessAction(event->possibleActions());
    accepting_ = action != Qt::IgnoreAction && acceptableFolderURL(event->mimeData()).has_value();
    setHighlighted(accepting_);
    if (accepting_) {
        event->setDropAction(action);
        event->accept();
    } else {
        event->ignore();
    }
}

void NIDragView::dragMoveEvent(QDragMoveEvent* event) {
    // The answer given on entering holds while the drag stays, whatever modifier keys propose.
    const Qt::DropAction action = harmlessAction(event->possibleActions());
    if (accepting_ && action != Qt::IgnoreAction) {
        event->setDropAction(action);
        event->accept();
    } else {
        event->ignore();
    }
}

void NIDragView::dragLeaveEvent(QDragLeaveEvent* event) {
    accepting_ = false;
    setHighlighted(false);
    event->accept();
}

void NIDragView::dropEvent(QDropEvent* event) {
    // Checked again: a synthetic or late drop may carry something else than the drag that entered.
    const Qt::DropAction action = harmlessAction(event->possibleActions());
    const std::optional<QUrl> url = acceptableFolderURL(event->mimeData());
    accepting_ = false;
    if (!url || action == Qt::IgnoreAction) {
        event->ignore();
        setHighlighted(false);
        return;
    }
    event->setDropAction(action);
    event->accept();
    if (delegate_ != nullptr) delegate_->dragViewDidReceiveURL(localPath(*url));
    // Qt sends no leave after a drop; the drag has ended here.
    setHighlighted(false);
}

void NIDragView::keyPressEvent(QKeyEvent* event) {
    const bool activating =
        event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!activating || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    emit activated();
}

void NIDragView::addLineDashToPath(QPen& pen) const {
    // Qt measures dashes in pen widths: 10 drawn, 4 left out, starting half a pixel in.
    const qreal width = pen.widthF() > 0 ? pen.widthF() : 1.0;
    pen.setDashPattern({10.0 / width, 4.0 / width});
    pen.setDashOffset(0.5 / width);
}

void NIDragView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();

    // The highlight is the palette's, so a drag looks like a selection elsewhere on the desktop.
    const QColor highlight = palette().color(QPalette::Highlight);
    QPainterPath background;
    background.addRoundedRect(bounds, 8.0, 8.0);
    painter.fillPath(background, highlighted_ ? withAlpha(highlight, 0.5) : kGround);

    QPainterPath border;
    border.addRoundedRect(bounds.adjusted(2.0, 2.0, -2.0, -2.0), 6.0, 6.0);
    QPen pen(highlighted_ ? highlight : kBorder);
    pen.setWidthF(4.0);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    addLineDashToPath(pen);
    painter.strokePath(border, pen);

    // Solid, inside the dashes, so keyboard focus shows apart from the border.
    if (hasFocus()) {
        QPainterPath ring;
        ring.addRoundedRect(bounds.adjusted(8.0, 8.0, -8.0, -8.0), 4.0, 4.0);
        painter.strokePath(ring, QPen(kFocusRing, 2.0));
    }
}

}  // namespace ni
