#include "MsgUtils.h"

#include "UiTestSupport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct TSeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons; // left to right
    QRect Frame;
};

TSeenBox Describe(QWidget* Window) {
    auto* Box = qobject_cast<QMessageBox*>(Window);
    EXPECT_NE(Box, nullptr);
    TSeenBox Seen;
    if (!Box)
        return Seen;
    Seen.Title = Box->windowTitle();
    Seen.Text = Box->text();
    Seen.Icon = Box->icon();
    Seen.Frame = Box->frameGeometry();
    QList<QPushButton*> Buttons = Box->findChildren<QPushButton*>();
    std::sort(Buttons.begin(), Buttons.end(), [Box](QPushButton* A, QPushButton* B) {
        return A->mapTo(Box, QPoint()).x() < B->mapTo(Box, QPoint()).x();
    });
    for (QPushButton* Button : Buttons)
        if (Button->isVisible())
            Seen.Buttons << Button->text();
    return Seen;
}

QPushButton* ButtonNamed(QWidget* Box, const QString& Text) {
    for (QPushButton* Button : Box->findChildren<QPushButton*>())
        if (Button->text() == Text)
            return Button;
    return nullptr;
}

// Shows the box, records it, then answers with Key.
int AnswerWithKey(int Key, TMsgDlgButtons Buttons, TSeenBox* Seen = nullptr,
                  TMsgDlgType Type = mtConfirmation, const QString& Msg = QStringLiteral("?")) {
    OnNextModal([Key, Seen](QWidget* Box) {
        if (Seen)
            *Seen = Describe(Box);
        TypeKey(Box, Key);
    });
    return CenteredMessageDlg(Msg, Type, Buttons);
}

int AnswerWithButton(const QString& Caption, TMsgDlgButtons Buttons) {
    OnNextModal([Caption](QWidget* Box) {
        QPushButton* Button = ButtonNamed(Box, Caption);
        ASSERT_NE(Button, nullptr);
        Button->click();
    });
    return CenteredMessageDlg(QStringLiteral("?"), mtCustom, Buttons);
}

class MsgUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Off the screen's centre, so centring on the screen would show.
        Main.setGeometry(40, 300, 300, 200);
        Main.show();
        SetMainWindow(&Main);
    }
    void TearDown() override { SetMainWindow(nullptr); }

    QWidget Main;
};

TEST_F(MsgUtilsTest, CaptionsAndIconsByType) {
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Segmora"));
    const struct {
        TMsgDlgType Type;
        const char* Caption;
        QMessageBox::Icon Icon;
    } Cases[] = {{mtWarning, "Warning", QMessageBox::Warning},
                 {mtError, "Error", QMessageBox::Critical},
                 {mtInformation, "Information", QMessageBox::Information},
                 {mtConfirmation, "Confirm", QMessageBox::Question},
                 {mtCustom, "Segmora", QMessageBox::NoIcon}};
    for (const auto& Case : Cases) {
        TSeenBox Seen;
        EXPECT_EQ(AnswerWithKey(Qt::Key_Return, mbOKOnly, &Seen, Case.Type), mrOk);
        EXPECT_EQ(Seen.Title, QString::fromLatin1(Case.Caption));
        EXPECT_EQ(Seen.Icon, Case.Icon);
    }
}

TEST_F(MsgUtilsTest, ButtonsInTheSetsOrderWithTheirTexts) {
    TSeenBox Seen;
    AnswerWithKey(Qt::Key_Escape, mbYesCancelYesToAll, &Seen);
    EXPECT_EQ(Seen.Buttons, (QStringList{"&Yes", "Cancel", "Yes to &All"}));

    AnswerWithKey(Qt::Key_Escape, 0x7FF, &Seen);
    EXPECT_EQ(Seen.Buttons, (QStringList{"&Yes", "&No", "OK", "Cancel", "&Abort", "&Retry",
                                         "&Ignore", "&All", "N&o to All", "Yes to &All", "&Help"}));
}

TEST_F(MsgUtilsTest, EscapeAndEnterOnTheOverwriteQuestion) {
    EXPECT_EQ(AnswerWithKey(Qt::Key_Escape, mbYesCancelYesToAll), mrCancel);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Return, mbYesCancelYesToAll), mrYes);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Return, mbYesCancel), mrYes);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Escape, mbYesCancel), mrCancel);
}

TEST_F(MsgUtilsTest, DefaultAndEscapeButtonsFallBackInOrder) {
    // OK alone is both.
    EXPECT_EQ(AnswerWithKey(Qt::Key_Escape, mbOKOnly), mrOk);
    // Without Cancel, No is the escape; Yes the default.
    const TMsgDlgButtons YesNo = MsgDlgButton(mbYes) | MsgDlgButton(mbNo);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Escape, YesNo), mrNo);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Return, YesNo), mrYes);
    // OK wins the default over Yes.
    EXPECT_EQ(AnswerWithKey(Qt::Key_Return, MsgDlgButton(mbYes) | MsgDlgButton(mbOK)), mrOk);
    // Retry is the last default; with no Cancel, No or OK, Esc does nothing.
    const TMsgDlgButtons AbortRetryIgnore =
        MsgDlgButton(mbAbort) | MsgDlgButton(mbRetry) | MsgDlgButton(mbIgnore);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Return, AbortRetryIgnore), mrRetry);
    OnNextModal([](QWidget* Box) {
        TypeKey(Box, Qt::Key_Escape);
        Box->close();
        EXPECT_TRUE(Box->isVisible());
        ButtonNamed(Box, QStringLiteral("&Ignore"))->click();
    });
    EXPECT_EQ(CenteredMessageDlg(QStringLiteral("?"), mtError, AbortRetryIgnore), mrIgnore);
}

TEST_F(MsgUtilsTest, CloseBoxActsAsTheEscapeButton) {
    OnNextModal([](QWidget* Box) { Box->close(); });
    EXPECT_EQ(CenteredMessageDlg(QStringLiteral("?"), mtConfirmation, mbYesCancel), mrCancel);
}

TEST_F(MsgUtilsTest, ModalResultOfEveryButton) {
    const struct {
        const char* Caption;
        int Result;
    } Cases[] = {{"&Yes", 6},       {"&No", 7},         {"OK", 1},      {"Cancel", 2},
                 {"&Abort", 3},     {"&Retry", 4},      {"&Ignore", 5}, {"&All", 8},
                 {"N&o to All", 9}, {"Yes to &All", 10}};
    for (const auto& Case : Cases)
        EXPECT_EQ(AnswerWithButton(QString::fromLatin1(Case.Caption), 0x7FF), Case.Result)
            << Case.Caption;
}

TEST_F(MsgUtilsTest, HelpDoesNotCloseTheBox) {
    int HelpCalls = 0;
    SetMessageDlgHelpHandler([&] { ++HelpCalls; });
    OnNextModal([](QWidget* Box) {
        ButtonNamed(Box, QStringLiteral("&Help"))->click();
        EXPECT_TRUE(Box->isVisible());
        ButtonNamed(Box, QStringLiteral("OK"))->click();
    });
    EXPECT_EQ(CenteredMessageDlg(QStringLiteral("?"), mtInformation,
                                 MsgDlgButton(mbOK) | MsgDlgButton(mbHelp)),
              mrOk);
    EXPECT_EQ(HelpCalls, 1);
    SetMessageDlgHelpHandler(nullptr);
}

TEST_F(MsgUtilsTest, LineBreakShowsTwoLinesAndTextStaysPlain) {
    int Lines = 0;
    QString Shown;
    OnNextModal([&](QWidget* Box) {
        auto* Label = Box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(Label, nullptr);
        Shown = Label->text();
        EXPECT_EQ(Label->textFormat(), Qt::PlainText);
        Lines = Label->height() / Label->fontMetrics().lineSpacing();
        TypeKey(Box, Qt::Key_Escape);
    });
    CenteredMessageDlg(QStringLiteral("The file \"<b>a</b>.mp3\" is already exists.\r\n"
                                      "Do you want to overwrite it?"),
                       mtConfirmation, mbYesCancelYesToAll);
    EXPECT_EQ(Shown, QStringLiteral("The file \"<b>a</b>.mp3\" is already exists.\n"
                                    "Do you want to overwrite it?"));
    EXPECT_EQ(Lines, 2);
}

TEST_F(MsgUtilsTest, CentredOverTheMainWindowNotTheScreen) {
    TSeenBox Seen;
    AnswerWithKey(Qt::Key_Return, mbOKOnly, &Seen, mtWarning,
                  QStringLiteral("A rather longer message, so that the box is wide."));
    const QPoint Expected = Main.frameGeometry().center();
    EXPECT_LE(std::abs(Seen.Frame.center().x() - Expected.x()), 1);
    EXPECT_LE(std::abs(Seen.Frame.center().y() - Expected.y()), 1);
}

TEST_F(MsgUtilsTest, AnswersWhileTheMainWindowIsDisabled) {
    Main.setEnabled(false);
    EXPECT_EQ(AnswerWithKey(Qt::Key_Return, mbOKOnly), mrOk);
}

TEST(MsgUtilsMainWindow, FirstVisiblePlainWindowStandsIn) {
    SetMainWindow(nullptr);
    QWidget Window;
    Window.setGeometry(500, 100, 200, 150);
    Window.show();
    EXPECT_EQ(MainWindow(), &Window);
    SetMainWindow(nullptr);
}

} // namespace
