// Names hold anything, markup included: the questions and the properties
// dialog show them as they are.
#include "fileops/PropertiesDialog.h"
#include "fileops/QtOperationUi.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace tarnel;

namespace {

const std::string kMarkupName = "<b>Yes</b> <a href='x'>really</a>";


TEST(PlainTextNames, QuestionsShowAMarkupNameAsItIs)
{
    for (const auto type : {OperationQuestion::Type::Replace, OperationQuestion::Type::DeletePermanently,
                            OperationQuestion::Type::Error, OperationQuestion::Type::CreateFolder}) {
        OperationQuestion q;
        q.type = type;
        q.path = "/tmp/" + kMarkupName;
        q.what = "Cannot read";
        q.error = EIO;
        std::unique_ptr<QMessageBox> box(NewQuestionBox(nullptr, q));
        const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        EXPECT_TRUE(label && label->textFormat() == Qt::PlainText);
        EXPECT_TRUE(box->text().contains(QString::fromStdString(kMarkupName)));
        // Closed without a button: the answer that stops.
        EXPECT_EQ(AnswerOf(q, *box), StopAnswer(type));
    }
}

TEST(PlainTextNames, PropertiesShowAMarkupNameAsItIs)
{
    char tmpl[] = "/tmp/tarnel-props-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string path = dir + "/" + kMarkupName;
    std::ofstream(path) << "x";
    {
        PropertiesDialog dialog({path});
        int shown = 0;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            if (!label->text().contains("<b>"))
                continue;
            ++shown;
            EXPECT_EQ(Qt::PlainText, label->textFormat());
        }
        EXPECT_GE(shown, 1);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
