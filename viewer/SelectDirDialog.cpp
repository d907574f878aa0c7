#include "viewer/SelectDirDialog.h"

#include "platform/Volumes.h"

#include <QComboBox>
#include <QFile>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

} // namespace

TDlgSelectDir::TDlgSelectDir(QWidget* parent) : QDialog(parent)
{
    setObjectName("DlgSelectDir");
    setWindowTitle("Select directory");
    setModal(true);
    auto* column = new QVBoxLayout(this);
    auto* banner = new QLabel("Select destination directory", this);
    column->addWidget(banner);

    drives_ = new QComboBox(this);
    drives_->setObjectName("DriveSelector");
    for (const Volume& v : SystemDrives())
        drives_->addItem(Decode(v.displayText), Decode(v.root));
    column->addWidget(drives_);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    model_->setRootPath("/");
    tree_ = new QTreeView(this);
    tree_->setObjectName("LBDirectories");
    tree_->setModel(model_);
    for (int c = 1; c < model_->columnCount(); ++c)
        tree_->hideColumn(c);
    tree_->header()->hide();
    column->addWidget(tree_, 1);

    edit_ = new QLineEdit(this);
    edit_->setObjectName("EDDirectoryName");
    column->addWidget(edit_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton("&OK", this);
    ok_->setDefault(true);
    cancel_ = new QPushButton("&Cancel", this);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    column->addLayout(buttons);
    resize(380, 420);

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(drives_, &QComboBox::activated, this, &TDlgSelectDir::DriveChosen);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, &TDlgSelectDir::TreeMoved);
}

void TDlgSelectDir::SetDirectory(const std::string& path)
{
    const QString shown = Decode(path);
    const QModelIndex index = model_->index(shown);
    if (index.isValid()) {
        tree_->setCurrentIndex(index);
        tree_->scrollTo(index);
    }
    edit_->setText(shown); // also when the tree cannot show it
}

std::string TDlgSelectDir::DirectoryName() const { return QFile::encodeName(edit_->text()).toStdString(); }

void TDlgSelectDir::DriveChosen(int index)
{
    const QString root = drives_->itemData(index).toString();
    SetDirectory(QFile::encodeName(root).toStdString());
}

void TDlgSelectDir::TreeMoved()
{
    const QModelIndex index = tree_->currentIndex();
    if (index.isValid())
        edit_->setText(model_->filePath(index));
}

void TDlgSelectDir::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace tarnel
