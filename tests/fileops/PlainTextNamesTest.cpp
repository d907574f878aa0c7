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

// Answers the next message box with No after noting how it showed its text.
struct BoxInspector {
    bool seen = false;
    bool plain = false;
    QString text;

    void ArmFor(QMessageBox::StandardButton answer)
    {
        QTimer::singleShot(0, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            plain = label && label->textFormat() == Qt::PlainText;
            text = box->text();
            box->done(answer);
        });
    }
};

TEST(PlainTextNames, QuestionsShowAMarkupNameAsItIs)
{
    ForegroundOperationUi ui(nullptr);
    BoxInspector replace;
    replace.ArmFor(QMessageBox::No);
    EXPECT_EQ(ReplaceAnswer::No, ui.AskReplace("/tmp/" + kMarkupName));
    ASSERT_TRUE(replace.seen);
    EXPECT_TRUE(replace.plain);
    EXPECT_TRUE(replace.text.contains(QString::fromStdString(kMarkupName)));

    BoxInspector remove;
    remove.ArmFor(QMessageBox::No);
    EXPECT_EQ(DeleteAnswer::No, ui.AskDeletePermanently("/tmp/" + kMarkupName));
    ASSERT_TRUE(remove.seen);
    EXPECT_TRUE(remove.plain);
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
