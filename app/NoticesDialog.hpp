#pragma once

#include <QDialog>

#include "conversion/AppDelegate.hpp"

class QTableWidget;

namespace ni {

// What the last conversion left out or changed, one row per notice (item,
// what, message): sortable and selectable, with Copy and Save Report….
class NoticesDialog : public QDialog {
    Q_OBJECT

public:
    explicit NoticesDialog(ConversionSummary summary, QWidget* parent = nullptr);

    // The selected rows (all rows when none is selected) as tab-separated lines, in the shown order.
    QString rowsAsText() const;
    void copyRows() const;
    // Asks where to save the JSON report and writes it there.
    void saveReport();

private:
    ConversionSummary summary_;
    QTableWidget* table_;
};

}  // namespace ni
