#pragma once
// Stand-ins for the packed, vox and image pages until their own widgets
// take over: they show what is known of the file.
#include "viewer/ViewerPage.h"

#include <QWidget>

class QLabel;

namespace tarnel {

class FileSummaryPage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    FileSummaryPage(const char* objectName, QWidget* parent = nullptr);
    QWidget* PageWidget() override { return this; }
    void ShowFile(const std::string& path) override;
    void ClearPage() override;
    QLabel* Summary() const { return summary_; }

private:
    QLabel* summary_;
};

} // namespace tarnel
