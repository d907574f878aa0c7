#pragma once
// The "packed" page: the listing of a RAR archive in VWPackLB, with "Test"
// and "Extract all". The listing is read on a worker; the walks run on the
// main thread, their progress going to the window's status bar, repainted
// at each step.
#include "viewer/ViewerPage.h"
#include "viewer/model/RarArchive.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;

namespace tarnel {

class Operation;
class TDlgSelectDir;
class UserMessages;

// What of the main window the page reaches.
struct PackedPageWindow {
    std::function<void(const QString&)> showStatus; // the status bar's text, painted at once
    std::function<std::string()> activePanePath;
    std::function<void()> rereadActivePane;
    std::function<UserMessages&()> messages;
    std::function<std::string()> groupSeparator;
    // Runs a walk as the window's long work; done comes on the window's
    // thread. Unset (a page alone), the walk runs where it is asked.
    std::function<bool(std::shared_ptr<Operation>, std::function<void(const Operation&)> done)> runOperation;
};

class PackedPage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    // libraryPath empty: libunrar.so from the program's directory, then the system's.
    explicit PackedPage(QWidget* parent = nullptr, const std::string& libraryPath = {});
    ~PackedPage() override;

    void SetWindow(PackedPageWindow window) { window_ = std::move(window); }
    // Tests answer the directory dialog; the default runs it modally.
    void SetDialogRunner(std::function<int(TDlgSelectDir&)> run) { runDialog_ = std::move(run); }

    QWidget* PageWidget() override { return this; }
    Reading ReadFile(const std::string& path) override;
    void ClearPage() override;

    void VWPackTestClick();
    void VWPackExtractClick();

    TEnhRar& Rar() { return rar_; }
    QListWidget* List() const { return list_; }
    QPushButton* TestButton() const { return test_; }
    QPushButton* ExtractButton() const { return extract_; }

private:
    void VWRarNotify(TRarStatus status, const std::string& archiveName, const std::string& fileName, int errorCode);
    void ShowStatus(const QString& text);
    void Warn(const QString& text);
    struct WalkResult;
    // Tests the archive, or extracts it into destination, with a walker of
    // its own on a worker; shown then reports what came of it.
    void StartWalk(bool extract, const std::string& destination,
                   std::function<void(PackedPage&, const WalkResult&)> shown);
    void ShowTested(const WalkResult& result);
    void ShowExtracted(const WalkResult& result);
    void ReportRefused(const WalkResult& result);
    static QString StoppedText(const QString& walk, const WalkResult& result);

    void ShowListing(const TEnhRar& lister);

    std::string libraryPath_;
    TEnhRar rar_; // VWRar
    PackedPageWindow window_;
    std::function<int(TDlgSelectDir&)> runDialog_;
    QListWidget* list_;      // VWPackLB
    QPushButton* test_;
    QPushButton* extract_;
};

} // namespace tarnel
