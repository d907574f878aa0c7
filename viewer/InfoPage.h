#pragma once
// The "file info" page: an entry's description and, for directories and
// volumes, two lines of counts or space.
#include "viewer/ViewerPage.h"

#include <QWidget>

class QLabel;

namespace tarnel {

class InfoPage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    explicit InfoPage(QWidget* parent = nullptr);

    QWidget* PageWidget() override { return this; }
    // The page shows what the host hands it with ShowInfo; a bare file shows
    // its description only, so there is nothing to read here.
    Reading ReadFile(const std::string&) override
    {
        return [] { return Showing([] {}); };
    }
    void ClearPage() override {}

    // A file has no counts: its two lines are emptied, so that nothing left
    // from a directory shown before reads as the file's.
    void ShowInfo(const std::string& description, const std::string& info1, const std::string& info2);

    QLabel* Description() const { return description_; }
    QLabel* Info1() const { return info1_; }
    QLabel* Info2() const { return info2_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* description_;
    QLabel* info1_;
    QLabel* info2_;
};

} // namespace tarnel
