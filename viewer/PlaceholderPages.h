#pragma once
// Stand-in for the text page until its own widget takes over: the file's
// first lines, read-only.
#include "viewer/ViewerPage.h"

#include <QWidget>

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

} // namespace tarnel
