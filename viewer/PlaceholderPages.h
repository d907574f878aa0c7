#pragma once
// Stand-ins for the text, packed, vox and image pages until their own
// widgets take over: the text page shows the file's first lines read-only,
// the others what is known of the file.
#include "viewer/ViewerPage.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace tarnel {

class FirstLinesPage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    static constexpr size_t kMaxBytes = 64 * 1024;
    static constexpr int kMaxLines = 500;

    explicit FirstLinesPage(QWidget* parent = nullptr);
    QWidget* PageWidget() override { return this; }
    void ShowFile(const std::string& path) override;
    void ClearPage() override;
    QPlainTextEdit* Text() const { return text_; }

private:
    QPlainTextEdit* text_;
};

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
