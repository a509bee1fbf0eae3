#include "ProgressDlg.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ProgressDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        Main.setGeometry(100, 100, 400, 300);
        Main.show();
        Form = std::make_unique<TfrmProgress>(&Main);
        Form->SetClock([this] { return Now; });
    }

    QLabel* TimeLabel() const { return Form->findChild<QLabel*>(QStringLiteral("lblTime")); }
    QProgressBar* Bar() const {
        return Form->findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
    }
    QPushButton* CancelButton() const {
        return Form->findChild<QPushButton*>(QStringLiteral("btnCancel"));
    }

    // Percentages 50 and then 75 after Seconds give an estimate of exactly
    // Seconds: the remaining 25 % take as long as the last 25 % did.
    QString EstimateAfter(double Seconds) {
        Form->hide(); // showing starts a fresh estimate
        Form->show();
        Now = 1000;
        Form->SetProgress(50);
        return After(Seconds, 75);
    }

    // Seconds later, the job reports Percent: the estimate this gives.
    QString After(double Seconds, double Percent) {
        Now += Seconds;
        Form->SetProgress(Percent);
        return TimeLabel()->text();
    }

    double Now = 1000;
    QWidget Main;
    std::unique_ptr<TfrmProgress> Form;
};

TEST_F(ProgressDlgTest, StartsAsDesigned) {
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Processing..."));
    EXPECT_EQ(Form->size(), QSize(392, 148));
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
    EXPECT_FALSE(Form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(Form->findChild<QLabel*>(QStringLiteral("lblText"))->text().isEmpty());
    EXPECT_TRUE(TimeLabel()->text().isEmpty());
    EXPECT_EQ(Bar()->minimum(), 0);
    EXPECT_EQ(Bar()->maximum(), 100);
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_EQ(CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(CancelButton()->geometry(), QRect(306, 114, 75, 25));
    EXPECT_TRUE(Form->ShowTime());
}

TEST_F(ProgressDlgTest, BarTakesTheWholePercentage) {
    Form->show();
    Form->SetProgress(42.7);
    EXPECT_EQ(Bar()->value(), 42);
    Form->SetProgress(99.9);
    EXPECT_EQ(Bar()->value(), 99);
    Form->SetProgress(99.0);
    EXPECT_EQ(Bar()->value(), 99);
    Form->SetProgress(100);
    EXPECT_EQ(Bar()->value(), 100);
}

TEST_F(ProgressDlgTest, EstimateTextsAtTheirBoundaries) {
    EXPECT_EQ(EstimateAfter(59.4), QStringLiteral("59 seconds remaining"));
    EXPECT_EQ(EstimateAfter(59.5), QStringLiteral("1 minutes remaining")); // ties to even: 60
    EXPECT_EQ(EstimateAfter(58.5), QStringLiteral("58 seconds remaining"));
    EXPECT_EQ(EstimateAfter(119), QStringLiteral("1 minutes remaining"));
    EXPECT_EQ(EstimateAfter(10799), QStringLiteral("179 minutes remaining"));
    EXPECT_EQ(EstimateAfter(10800), QStringLiteral("3 hours remaining"));
    EXPECT_EQ(EstimateAfter(14399), QStringLiteral("3 hours remaining"));
    EXPECT_TRUE(TimeLabel()->isVisibleTo(Form.get()));
}

TEST_F(ProgressDlgTest, EstimateOfZeroAtTheEnd) {
    Form->show();
    Form->SetProgress(50);
    EXPECT_EQ(After(4, 100), QStringLiteral("0 seconds remaining"));
}

TEST_F(ProgressDlgTest, NoEstimateWithinThreeSeconds) {
    Form->show();
    Form->SetProgress(10);
    EXPECT_TRUE(After(3, 90).isEmpty());
    EXPECT_FALSE(After(0.001, 91).isEmpty());
}

TEST_F(ProgressDlgTest, IntervalStartsAtTheFirstNonZeroPercentage) {
    Form->show();
    Form->SetProgress(0); // the interval's time is taken here
    After(1, 20);         // and its percentage here
    EXPECT_EQ(After(4, 60), QStringLiteral("5 seconds remaining")) << "40 % in 5 s, 40 % to go";
}

TEST_F(ProgressDlgTest, StalledPercentageKeepsTheTextAndTheInterval) {
    Form->show();
    Form->SetProgress(50);
    ASSERT_EQ(After(10, 75), QStringLiteral("10 seconds remaining"));
    EXPECT_EQ(After(10, 75), QStringLiteral("10 seconds remaining"));
    // 5 % in the 20 s since the last estimate
    EXPECT_EQ(After(10, 80), QStringLiteral("1 minutes remaining"));
}

TEST_F(ProgressDlgTest, NegativeEstimateSwitchesTheTimeOff) {
    Form->show();
    Form->SetProgress(50);
    const QString Before = After(4, 40); // running backwards
    EXPECT_FALSE(Form->ShowTime());
    EXPECT_FALSE(TimeLabel()->isVisibleTo(Form.get()));
    EXPECT_EQ(After(10, 90), Before);
    EXPECT_FALSE(TimeLabel()->isVisibleTo(Form.get()));
    EXPECT_EQ(Bar()->value(), 90);
}

TEST_F(ProgressDlgTest, PercentageBeyondHundredSwitchesTheTimeOff) {
    Form->show();
    Form->SetProgress(50);
    After(4, 110);
    EXPECT_FALSE(Form->ShowTime());
}

TEST_F(ProgressDlgTest, ShowingDisablesExactlyTheVisibleEnabledWindows) {
    QWidget Other;
    Other.show();
    QWidget Hidden;
    QWidget AlreadyDisabled;
    AlreadyDisabled.setEnabled(false);
    AlreadyDisabled.show();

    Form->show();
    EXPECT_FALSE(Main.isEnabled());
    EXPECT_FALSE(Other.isEnabled());
    EXPECT_TRUE(Hidden.isEnabled());
    EXPECT_TRUE(Form->isEnabled()); // although its owner is disabled

    Form->hide();
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_TRUE(Other.isEnabled());
    EXPECT_FALSE(AlreadyDisabled.isEnabled());
}

TEST_F(ProgressDlgTest, WindowsComeBackWhenTheDialogIsFreedWhileShown) {
    auto Other = std::make_unique<QWidget>();
    Other->show();
    auto Gone = std::make_unique<QWidget>();
    Gone->show();
    Form->show();
    Gone.reset(); // a window closed during the job must not be touched
    Form.reset();
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_TRUE(Other->isEnabled());
}

TEST_F(ProgressDlgTest, CancelTwiceIsOneCancel) {
    Form->show();
    EXPECT_FALSE(Form->IsCancelled());
    CancelButton()->click();
    CancelButton()->click();
    EXPECT_TRUE(Form->IsCancelled());
    EXPECT_TRUE(Form->isVisible()); // the job frees it
    EXPECT_FALSE(Main.isEnabled());
}

TEST_F(ProgressDlgTest, CloseRequestCancelsAndGivesTheWindowsBack) {
    Form->show();
    CancelButton()->click();
    Form->close();
    EXPECT_TRUE(Form->IsCancelled());
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(Main.isEnabled());
}

TEST_F(ProgressDlgTest, EscapeIsACloseRequest) {
    Form->show();
    QKeyEvent Escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(Form.get(), &Escape);
    EXPECT_TRUE(Form->IsCancelled());
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(ProgressDlgTest, ShowingAgainClearsTheCancel) {
    Form->show();
    Form->close();
    ASSERT_TRUE(Form->IsCancelled());
    Form->show();
    EXPECT_FALSE(Form->IsCancelled());
}

TEST_F(ProgressDlgTest, IsCancelledHandlesPendingEventsEveryFewMilliseconds) {
    Form->show();
    QTimer::singleShot(0, CancelButton(), &QPushButton::click);
    EXPECT_TRUE(Form->IsCancelled()); // the first call after showing handles them
}

TEST_F(ProgressDlgTest, IsCancelledLeavesEventsWaitingWithinTheInterval) {
    Form->show();
    EXPECT_FALSE(Form->IsCancelled());
    QTimer::singleShot(0, CancelButton(), &QPushButton::click);
    Now += 0.001;
    EXPECT_FALSE(Form->IsCancelled());
    Now += 0.01;
    EXPECT_TRUE(Form->IsCancelled());
}

} // namespace
