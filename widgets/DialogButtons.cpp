#include "widgets/DialogButtons.h"

#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>

namespace tarnel {

void AddOkCancelRow(QDialog& dialog, QBoxLayout& layout, QPushButton* left)
{
    auto* row = new QHBoxLayout;
    if (left) {
        left->setAutoDefault(false);
        row->addWidget(left);
    }
    row->addStretch();
    auto* ok = new QPushButton("&OK", &dialog);
    ok->setObjectName("BtnOK");
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    row->addWidget(ok);
    auto* cancel = new QPushButton("&Cancel", &dialog);
    cancel->setObjectName("BtnCancel");
    cancel->setAutoDefault(false);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    row->addWidget(cancel);
    layout.addLayout(row);
}

} // namespace tarnel
