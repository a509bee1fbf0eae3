#include "EditLib.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// The part count of the main window: 2 to 999.
class NaturalEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* Layout = new QVBoxLayout(&Parent);
        Edit = new TNaturalEdit(&Parent);
        Layout->addWidget(Edit);
        Edit->SetMinValue(2);
        Edit->SetMaxValue(999);
        Edit->SetValue(2);
        Parent.show();
        Edit->setFocus();
    }

    // Counts the keys the edit lets through to its parent.
    struct TParent : QWidget {
        int PassedKeys = 0;
        void keyPressEvent(QKeyEvent*) override { ++PassedKeys; }
    };

    TParent Parent;
    TNaturalEdit* Edit = nullptr;
};

TEST(NaturalEditDefaults, NewInstance) {
    TNaturalEdit Edit;
    EXPECT_EQ(Edit.text(), QStringLiteral("0"));
    EXPECT_EQ(Edit.MinValue(), 0);
    EXPECT_EQ(Edit.MaxValue(), 2147483647);
    EXPECT_EQ(Edit.Value(), 0);
    EXPECT_EQ(Edit.height(), 20);
}

TEST_F(NaturalEditTest, ReadingClampsWhatTheTextSays) {
    Edit->setText(QString());
    EXPECT_EQ(Edit->Value(), 2);
    Edit->setText(QStringLiteral("1500"));
    EXPECT_EQ(Edit->Value(), 999);
    Edit->setText(QStringLiteral("abc"));
    EXPECT_EQ(Edit->Value(), 2);
    Edit->setText(QStringLiteral("99999999999")); // beyond 32 bits: no number
    EXPECT_EQ(Edit->Value(), 2);
    Edit->setText(QStringLiteral("17"));
    EXPECT_EQ(Edit->Value(), 17);
    Edit->SetValue(5000); // writing does not clamp
    EXPECT_EQ(Edit->text(), QStringLiteral("5000"));
}

TEST_F(NaturalEditTest, BoundsRewriteTheTextOnlyWhenTheyCross) {
    Edit->setText(QStringLiteral("1500"));
    Edit->SetMaxValue(999); // reads as 999 already
    EXPECT_EQ(Edit->text(), QStringLiteral("1500"));
    Edit->SetMinValue(1200); // above the maximum
    EXPECT_EQ(Edit->text(), QStringLiteral("1200"));
}

TEST_F(NaturalEditTest, UpAndDownStepWithinTheBounds) {
    Edit->SetValue(500);
    QTest::keyClick(Edit, Qt::Key_Up);
    EXPECT_EQ(Edit->text(), QStringLiteral("501"));
    QTest::keyClick(Edit, Qt::Key_Down);
    QTest::keyClick(Edit, Qt::Key_Down);
    EXPECT_EQ(Edit->text(), QStringLiteral("499"));
    EXPECT_EQ(Parent.PassedKeys, 0);

    Edit->SetValue(999);
    QTest::keyClick(Edit, Qt::Key_Up);
    EXPECT_EQ(Edit->text(), QStringLiteral("999"));
    EXPECT_EQ(Parent.PassedKeys, 1); // not consumed at the bound
    Edit->SetValue(2);
    QTest::keyClick(Edit, Qt::Key_Down);
    EXPECT_EQ(Edit->text(), QStringLiteral("2"));
    EXPECT_EQ(Parent.PassedKeys, 2);
}

TEST_F(NaturalEditTest, StepKeepsTheCaret) {
    Edit->SetValue(150);
    Edit->setCursorPosition(1);
    QTest::keyClick(Edit, Qt::Key_Up);
    EXPECT_EQ(Edit->text(), QStringLiteral("151"));
    EXPECT_EQ(Edit->cursorPosition(), 1);
}

TEST_F(NaturalEditTest, ArrowsStepLikeTheKeys) {
    auto* Up = Edit->findChild<QToolButton*>(QStringLiteral("btnSpinUp"));
    auto* Down = Edit->findChild<QToolButton*>(QStringLiteral("btnSpinDown"));
    ASSERT_NE(Up, nullptr);
    ASSERT_NE(Down, nullptr);
    EXPECT_TRUE(Up->isVisible());
    QTest::mouseClick(Up, Qt::LeftButton);
    QTest::mouseClick(Up, Qt::LeftButton);
    EXPECT_EQ(Edit->Value(), 4);
    QTest::mouseClick(Down, Qt::LeftButton);
    EXPECT_EQ(Edit->Value(), 3);
    Edit->VScroll(5); // neither line up nor line down
    EXPECT_EQ(Edit->Value(), 3);
    Edit->SetValue(999);
    Edit->VScroll(TNaturalEdit::SB_LINEUP);
    EXPECT_EQ(Edit->text(), QStringLiteral("999"));
}

TEST_F(NaturalEditTest, OnlyDigitsAndBackspaceCanBeTyped) {
    Edit->setText(QStringLiteral("1"));
    Edit->end(false);
    QTest::keyClick(Edit, Qt::Key_A);
    QTest::keyClick(Edit, Qt::Key_Minus);
    QTest::keyClick(Edit, Qt::Key_Space);
    EXPECT_EQ(Edit->text(), QStringLiteral("1"));
    QTest::keyClick(Edit, Qt::Key_2);
    EXPECT_EQ(Edit->text(), QStringLiteral("12"));
    QTest::keyClick(Edit, Qt::Key_Backspace);
    EXPECT_EQ(Edit->text(), QStringLiteral("1"));

    QInputMethodEvent Composed;
    Composed.setCommitString(QStringLiteral("é4x"));
    QApplication::sendEvent(Edit, &Composed);
    EXPECT_EQ(Edit->text(), QStringLiteral("14"));
}

TEST_F(NaturalEditTest, ClipboardShortcutsDoNothingButPastingDoes) {
    QApplication::clipboard()->setText(QStringLiteral("ab"));
    Edit->clear();
    QTest::keyClick(Edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Edit->text(), QString());
    Edit->paste(); // what the context menu does
    EXPECT_EQ(Edit->text(), QStringLiteral("ab"));
    EXPECT_EQ(Edit->Value(), 2);
}

TEST(NaturalEditInDialog, EnterStillReachesTheDefaultButton) {
    QDialog Dialog;
    auto* Layout = new QVBoxLayout(&Dialog);
    auto* Edit = new TNaturalEdit(&Dialog);
    auto* Ok = new QPushButton(QStringLiteral("OK"), &Dialog);
    Layout->addWidget(Edit);
    Layout->addWidget(Ok);
    Ok->setDefault(true);
    QObject::connect(Ok, &QPushButton::clicked, &Dialog, &QDialog::accept);
    Dialog.show();
    Edit->setFocus();
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Dialog.result(), QDialog::Accepted);
}

} // namespace
