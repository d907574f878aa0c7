#include "viewer/PackedPage.h"

#include "app/UserMessages.h"
#include "tools/ToolText.h"
#include "fileops/model/Operation.h"
#include "viewer/SelectDirDialog.h"
#include "viewer/model/RarListing.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace tarnel {

namespace {


constexpr const char* kLibraryMissing =
    "The RAR library libunrar.so is missing: RAR archives cannot be listed, tested or extracted.";

} // namespace

PackedPage::PackedPage(QWidget* parent, const std::string& libraryPath)
    : QWidget(parent), libraryPath_(libraryPath), rar_(libraryPath)
{
    setObjectName("PackedPage");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    list_ = new QListWidget(this);
    list_->setObjectName("VWPackLB");
    list_->setFont(QFont("monospace"));
    list_->setUniformItemSizes(true);
    column->addWidget(list_, 1);
    auto* buttons = new QHBoxLayout;
    test_ = new QPushButton("Test", this);
    test_->setObjectName("BTNPackTest");
    extract_ = new QPushButton("Extract all", this);
    extract_->setObjectName("BTNPackExtract");
    buttons->addWidget(test_);
    buttons->addWidget(extract_);
    buttons->addStretch(1);
    column->addLayout(buttons);
    test_->setEnabled(false);
    extract_->setEnabled(false);
    connect(test_, &QPushButton::clicked, this, &PackedPage::VWPackTestClick);
    connect(extract_, &QPushButton::clicked, this, &PackedPage::VWPackExtractClick);
    rar_.OnNotify = [this](TRarStatus status, const std::string& archive, const std::string& member, int code, bool&) {
        VWRarNotify(status, archive, member, code);
    };
    runDialog_ = [](TDlgSelectDir& dialog) { return dialog.exec(); };
}

PackedPage::~PackedPage() { rar_.OnNotify = nullptr; }

// The listing is made by a lister of its own, so that the page's stays
// untouched until the listing is shown.
ViewerPage::Reading PackedPage::ReadFile(const std::string& path)
{
    const bool available = rar_.UnRarAvailable();
    const std::string library = libraryPath_;
    return [this, path, available, library] {
        std::shared_ptr<TEnhRar> lister;
        if (available) {
            lister = std::make_shared<TEnhRar>(library);
            lister->SetFileName(path);
        }
        return Showing([this, lister] { ShowListing(lister ? *lister : rar_); });
    };
}

void PackedPage::ShowListing(const TEnhRar& lister)
{
    list_->clear();
    test_->setEnabled(false);
    extract_->setEnabled(false);
    if (!rar_.UnRarAvailable() || !lister.UnRarAvailable()) {
        list_->addItem(kLibraryMissing);
        return;
    }
    if (&lister != &rar_)
        rar_.TakeListing(lister);
    const std::string separator = window_.groupSeparator ? window_.groupSeparator() : std::string(",");
    const RarListing listing = BuildRarListing(rar_.infos(), rar_.Entries(), separator);
    for (const std::string& line : listing.lines)
        list_->addItem(DisplayName(line));
    test_->setEnabled(listing.buttonsEnabled);
    extract_->setEnabled(listing.buttonsEnabled);
}

void PackedPage::ClearPage()
{
    list_->clear();
    test_->setEnabled(false);
    extract_->setEnabled(false);
}

// What a walk came to, copied off its walker for the window's thread.
struct PackedPage::WalkResult {
    std::string archive;
    std::string destination;
    std::string madeError; // the destination could not be made
    unsigned infos = 0;
    int code = 0;
    bool stopped = false;
    std::string stoppedAt;
    std::vector<std::string> refused, unlinked;
};

void PackedPage::VWPackTestClick()
{
    if (!rar_.UnRarAvailable())
        return;
    StartWalk(false, {}, [](PackedPage& page, const WalkResult& result) { page.ShowTested(result); });
}

void PackedPage::ShowTested(const WalkResult& result)
{
    const unsigned infos = result.infos;
    if (infos & riOutOfMemory) Warn("Out of memory while testing archive");
    if (infos & riBadArchive) Warn("Bad archive while testing archive");
    if (infos & riIncomplete) Warn("Unexpected end of archive while testing");
    if (infos != 0)
        return;
    if (result.stopped)
        ShowStatus("Testing stopped");
    else if (result.code != ERAR_END_ARCHIVE)
        Warn(StoppedText("Testing", result));
    else
        ShowStatus("Archive tested ok!");
}

void PackedPage::VWPackExtractClick()
{
    if (!rar_.UnRarAvailable())
        return;
    // The dialog runs an event loop: hold the archive's name, not the listing.
    const std::string archive = rar_.FileName();
    const std::string panePath = window_.activePanePath ? window_.activePanePath() : std::string();
    QPointer<PackedPage> self(this);
    auto* dialog = new TDlgSelectDir(this);
    dialog->SetDirectory(panePath);
    const int answer = runDialog_(*dialog);
    if (!self)
        return;
    const std::string destination = dialog->DirectoryName();
    delete dialog;
    if (answer != QDialog::Accepted || destination.empty() || rar_.FileName() != archive)
        return;
    StartWalk(true, destination, [panePath](PackedPage& page, const WalkResult& result) {
        page.ShowExtracted(result);
        const std::string full = std::filesystem::absolute(result.destination).lexically_normal().string();
        if (!panePath.empty() && DestinationWithin(panePath, full) && page.window_.rereadActivePane)
            page.window_.rereadActivePane(); // last: the listing under the page may change
    });
}

void PackedPage::StartWalk(bool extract, const std::string& destination,
                           std::function<void(PackedPage&, const WalkResult&)> shown)
{
    // The page's own walker keeps the listing shown; this one takes a copy.
    auto walker = std::make_shared<TEnhRar>(libraryPath_);
    walker->TakeListing(rar_);
    auto result = std::make_shared<WalkResult>();
    result->archive = rar_.FileName();
    result->destination = destination;
    QPointer<PackedPage> self(this);
    const std::string title = std::string(extract ? "Extract " : "Test ") + result->archive;
    auto op = std::make_shared<Operation>(
        extract ? OperationKind::ArchiveExtract : OperationKind::ArchiveTest, title,
        [walker, result, extract, self](Operation& op) {
            if (extract) {
                std::error_code made;
                std::filesystem::create_directories(result->destination, made);
                if (made || !std::filesystem::is_directory(result->destination)) {
                    result->madeError = made ? made.message() : "a file has that name";
                    return OperationState::Failed;
                }
            }
            uint64_t members = 0;
            const uint64_t total = walker->Entries().size();
            walker->OnNotify = [&](TRarStatus status, const std::string& archive, const std::string& member, int code,
                                   bool& canContinue) {
                if (status == TRarStatus::rsTesting || status == TRarStatus::rsExtracting)
                    ++members;
                canContinue = op.Report(members, total, 0, 0, member);
                const QString text = DisplayName(RarStatusText(status, archive, member, code));
                QMetaObject::invokeMethod(qApp, [self, text] {
                    if (self)
                        self->ShowStatus(text);
                }, Qt::QueuedConnection);
            };
            extract ? walker->Extract(result->destination) : walker->Test();
            walker->OnNotify = nullptr;
            result->infos = walker->infos();
            result->code = walker->LastCode();
            result->stopped = walker->Stopped();
            result->stoppedAt = walker->StoppedAt();
            result->refused = walker->Refused();
            result->unlinked = walker->Unlinked();
            return OperationState::Done;
        });
    auto done = [self, result, shown = std::move(shown)](const Operation&) {
        if (self)
            shown(*self, *result);
    };
    if (!window_.runOperation) {
        op->Run();
        done(*op);
        return;
    }
    if (!window_.runOperation(op, done))
        Warn("The program is ending: the archive is not walked.");
}

void PackedPage::ShowExtracted(const WalkResult& result)
{
    if (!result.madeError.empty()) {
        Warn(QString("Cannot create the directory %1: %2")
                 .arg(DisplayName(result.destination), QString::fromStdString(result.madeError)));
        return;
    }
    const unsigned infos = result.infos;
    if (infos & riOutOfMemory) Warn("Out of memory while extracting from archive");
    if (infos & riBadArchive) Warn("Bad archive while extracting");
    if (infos & riIncomplete) Warn("Unexpected end of archive while extracting");
    const int code = result.code;
    if (infos == 0 && code == ERAR_EWRITE)
        Warn(QString("Could not write %1 into %2 (is the disk full?). "
                     "Extraction stopped there; nothing was left under that name.")
                 .arg(DisplayName(result.stoppedAt), DisplayName(result.destination)));
    else if (infos == 0 && result.stopped)
        ShowStatus("Extraction stopped");
    else if (infos == 0 && code != ERAR_END_ARCHIVE)
        Warn(StoppedText("Extraction", result));
    ReportRefused(result);
    if (infos == 0 && !result.stopped && code == ERAR_END_ARCHIVE && result.refused.empty() && result.unlinked.empty())
        ShowStatus("Archive extracted ok!");
}

// A walk that ended on a code none of the three warnings stands for.
QString PackedPage::StoppedText(const QString& walk, const WalkResult& result)
{
    if (result.stoppedAt.empty())
        return QString("%1 stopped (error code %2)").arg(walk).arg(result.code);
    return QString("%1 stopped at %2 (error code %3)").arg(walk, DisplayName(result.stoppedAt)).arg(result.code);
}

void PackedPage::ReportRefused(const WalkResult& result)
{
    const auto report = [this](const QString& heading, const std::vector<std::string>& names) {
        if (names.empty())
            return;
        QString text = heading;
        const size_t shown = std::min<size_t>(names.size(), 20);
        for (size_t i = 0; i < shown; ++i)
            text += "\n" + DisplayName(names[i]);
        if (names.size() > shown)
            text += QString("\n... and %1 more").arg(names.size() - shown);
        Warn(text);
    };
    report("These members were not extracted (they would land outside the destination, or could not be written):",
           result.refused);
    report("These hard links were not made: the file each one links to is not a member this extraction "
           "wrote into the destination:",
           result.unlinked);
}

void PackedPage::VWRarNotify(TRarStatus status, const std::string& archiveName, const std::string& fileName,
                             int errorCode)
{
    ShowStatus(DisplayName(RarStatusText(status, archiveName, fileName, errorCode)));
}

void PackedPage::ShowStatus(const QString& text)
{
    if (window_.showStatus)
        window_.showStatus(text);
}

void PackedPage::Warn(const QString& text)
{
    if (window_.messages)
        window_.messages().Warning(text);
}

} // namespace tarnel
