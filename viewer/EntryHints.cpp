#include "viewer/EntryHints.h"

#include "panes/DisplayOptions.h"
#include "panes/ViewerExtensions.h"
#include "platform/VolumeSpace.h"
#include "viewer/model/EntryHintText.h"
#include "viewer/model/Id3v1Summary.h"
#include "widgets/PaneView.h"
#include "widgets/RowPainter.h"

#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

DriveSpace SpaceOf(const std::string& root)
{
    const VolumeSpaceAnswer space = VolumeSpace(root);
    return {space.totalBytes, space.freeBytes, space.answered};
}

bool VolumeQualifies(const Volume& drive, const PaneView* left, const PaneView* right)
{
    const bool removable = drive.type == DriveType::Removable;
    return DriveQualifiesForHint(drive.type, removable && IsDriveShown(drive, left->Data().Path, right->Data().Path));
}

} // namespace

// Reading a tag opens the file, which on a dead mount may never answer: it is
// read on a worker, one file at a time, the latest asked for waiting next.
struct EntryHints::TagLooks {
    std::mutex mutex;
    EntryHints* owner = nullptr; // null once the hints are gone
    bool running = false;
    std::optional<std::pair<std::string, std::string>> next; // key, path

    static void Ask(const std::shared_ptr<TagLooks>& looks, std::string key, std::string path)
    {
        std::lock_guard lock(looks->mutex);
        if (looks->running) {
            looks->next.emplace(std::move(key), std::move(path));
            return;
        }
        try {
            std::thread(Run, looks, std::move(key), std::move(path)).detach();
            looks->running = true;
        } catch (const std::system_error&) {
            // No thread: the hint goes without the tag this time.
        }
    }

    static void Run(std::shared_ptr<TagLooks> looks, std::string key, std::string path)
    {
        for (;;) {
            const std::string summary = ReadId3v1Summary(path);
            std::lock_guard lock(looks->mutex);
            if (EntryHints* owner = looks->owner)
                QMetaObject::invokeMethod(owner, [owner, key, summary] { owner->TagAnswered(key, summary); },
                                          Qt::QueuedConnection);
            if (!looks->next) {
                looks->running = false;
                return;
            }
            std::tie(key, path) = *std::exchange(looks->next, std::nullopt);
        }
    }
};

EntryHints::EntryHints(PaneView* left, PaneView* right, QList<QToolButton*> driveButtons, const DisplayLocale& locale,
                       QObject* parent)
    : QObject(parent), left_(left), right_(right), driveButtons_(std::move(driveButtons)), locale_(locale),
      tags_(std::make_shared<TagLooks>())
{
    tags_->owner = this;
    // Mouse moves tell when the pointer has left the hint's row.
    for (PaneView* pane : {left_, right_}) {
        pane->List()->viewport()->setMouseTracking(true);
        pane->List()->viewport()->installEventFilter(this);
    }
    for (QToolButton* button : driveButtons_) {
        button->setMouseTracking(true);
        button->installEventFilter(this);
    }
}

EntryHints::~EntryHints()
{
    {
        std::lock_guard lock(tags_->mutex);
        tags_->owner = nullptr;
    }
    delete hint_.data();
}

QLabel* EntryHints::ShownHint() const { return hint_ && hint_->isVisible() ? hint_.data() : nullptr; }

QString EntryHints::ListHint(PaneView* pane, QPoint viewportPos, QRect* row) const
{
    const QModelIndex index = pane->List()->indexAt(viewportPos);
    const TDirData& data = pane->Data();
    if (!index.isValid() || index.row() >= data.Count)
        return {};
    if (row)
        *row = pane->List()->visualRect(index);
    const TFileData& e = data.Item(index.row());
    ListHintInput input;
    input.entry = &e;
    input.folder = data.DirOf(e); // found files lie in folders of their own
    input.supported = IsViewerExtension(e.Name);
    input.id3Summary = [this, key = data.DirOf(e) + "/" + e.Name + "|" + std::to_string(e.Size.load()) + "|" +
                                     std::to_string(e.Time)](const std::string& path) {
        const auto known = summaries_.find(key);
        if (known != summaries_.end())
            return known->second;
        TagLooks::Ask(tags_, key, path);
        return std::string();
    };
    if (e.Kind == fkDrive)
        if (const Volume* drive = DriveOfRow(data, index.row())) {
            input.driveQualifies = VolumeQualifies(*drive, left_, right_);
            if (input.driveQualifies)
                input.drive = SpaceOf(drive->root);
        }
    return Decode(ListHintText(input, locale_));
}

QString EntryHints::DriveHint(int index) const
{
    const DriveList& drives = SystemDrives();
    if (index < 0 || size_t(index) >= drives.size() || !VolumeQualifies(drives[size_t(index)], left_, right_))
        return {};
    const std::string& root = drives[size_t(index)].root;
    return QString::fromStdString(DriveHintText(SpaceOf(root), locale_));
}

PaneView* EntryHints::PaneOfViewport(QObject* watched) const
{
    for (PaneView* pane : {left_, right_})
        if (watched == pane->List()->viewport())
            return pane;
    return nullptr;
}

bool EntryHints::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip: {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (PaneView* pane = PaneOfViewport(watched)) {
            if (!Options().ShowListHints)
                return false; // the list's normal hint
            QRect row;
            const QString text = ListHint(pane, help->pos(), &row);
            if (text.isEmpty())
                Hide();
            else
                Show(text, help->globalPos(), pane->List()->viewport(), row,
                     std::max(180, pane->List()->width() / 4 * 3));
            hintPane_ = pane;
            hintPos_ = help->pos();
            hintGlobalPos_ = help->globalPos();
            hintMaxWidth_ = std::max(180, pane->List()->width() / 4 * 3);
            return true;
        }
        const int button = driveButtons_.indexOf(qobject_cast<QToolButton*>(watched));
        if (button < 0)
            return false;
        const QString text = DriveHint(button);
        if (text.isEmpty())
            return false;
        Show(text, help->globalPos(), driveButtons_[button], QRect(help->pos() - QPoint(2, 2), QSize(5, 5)), 400);
        return true;
    }
    case QEvent::MouseMove:
        if (ShownHint() && watched == over_ && !keep_.contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            Hide();
        break;
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        if (watched == over_)
            Hide();
        break;
    default: break;
    }
    return false;
}

void EntryHints::Show(const QString& text, QPoint globalPos, QWidget* over, QRect keep, int maxWidth)
{
    QToolTip::hideText();
    if (!hint_) {
        hint_ = new QLabel(nullptr, Qt::ToolTip | Qt::BypassGraphicsProxyWidget);
        hint_->setObjectName("EntryHint");
        hint_->setTextFormat(Qt::PlainText);
        hint_->setWordWrap(true);
        hint_->setMargin(3);
        hint_->setFrameStyle(QFrame::Box | QFrame::Plain);
        hint_->setForegroundRole(QPalette::ToolTipText);
        hint_->setBackgroundRole(QPalette::ToolTipBase);
        hint_->setPalette(QToolTip::palette());
        hint_->setAutoFillBackground(true);
        auto* timer = new QTimer(hint_);
        timer->setObjectName("EntryHintTimer");
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, &EntryHints::Hide);
    }
    hint_->setText(text);
    // As wide as the longest line, wrapped beyond maxWidth.
    const int frame = 2 * (hint_->margin() + hint_->frameWidth()) + 2;
    const QFontMetrics metrics(hint_->font());
    int natural = 0;
    for (const QString& line : text.split('\n'))
        natural = std::max(natural, metrics.horizontalAdvance(line));
    const int width = std::min(natural + frame, maxWidth);
    hint_->setFixedWidth(width);
    hint_->setFixedHeight(hint_->heightForWidth(width));
    hint_->move(globalPos + QPoint(10, 10));
    hint_->show();
    hint_->findChild<QTimer*>("EntryHintTimer")->start(kShowMs);
    over_ = over;
    keep_ = keep;
}

void EntryHints::TagAnswered(const std::string& key, const std::string& summary)
{
    if (summaries_.size() > 1000)
        summaries_.clear();
    summaries_[key] = summary;
    if (!ShownHint() || !hintPane_ || over_ != hintPane_->List()->viewport())
        return;
    QRect row;
    const QString text = ListHint(hintPane_, hintPos_, &row);
    if (!text.isEmpty() && text != hint_->text())
        Show(text, hintGlobalPos_, hintPane_->List()->viewport(), row, hintMaxWidth_);
}

void EntryHints::Hide()
{
    if (hint_)
        hint_->hide();
    over_ = nullptr;
}

} // namespace tarnel
