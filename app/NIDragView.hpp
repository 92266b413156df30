#pragma once

#include <QUrl>
#include <QWidget>
#include <optional>

class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QMimeData;
class QPaintEvent;
class QPen;

namespace ni {

class NIDragViewDelegate;

// The area a Notara export folder is dropped on. It only decides whether it
// takes a drag (the first item must be a local folder that isn't a package)
// and hands the dropped folder to its delegate; the window decides the rest.
// It takes keyboard focus and reports Space or Enter as activated(), so the
// window can offer the same folder by keyboard.
class NIDragView : public QWidget {
    Q_OBJECT

public:
    explicit NIDragView(QWidget* parent = nullptr);
    ~NIDragView() override;

    // Not owned; null means drops are taken but go nowhere.
    NIDragViewDelegate* delegate() const { return delegate_; }
    void setDelegate(NIDragViewDelegate* delegate) { delegate_ = delegate; }

    bool highlighted() const { return highlighted_; }
    // Repaints only when the value changes.
    void setHighlighted(bool highlighted);

    // The folder a drag carrying mimeData would deliver; nothing when it is refused.
    static std::optional<QUrl> acceptableFolderURL(const QMimeData* mimeData);

signals:
    void activated();
    // What the view paints under its children changed; text on it may need another colour.
    void highlightedChanged(bool highlighted);

protected:
    // Sets the border's dash on pen, in device-independent pixels; a subclass may draw another.
    virtual void addLineDashToPath(QPen& pen) const;

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    NIDragViewDelegate* delegate_ = nullptr;
    bool highlighted_ = false;
    bool accepting_ = false;
};

}  // namespace ni
