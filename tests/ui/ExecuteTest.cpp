// The cutter's jobs run under the real progress dialog.

#include "ProgressDlg.h"
#include "Segmora.h"

#include "FrameFiles.h"
#include "MsgUtils.h"
#include "QueuedClick.h"
#include "TestFiles.h"
#include "UiTestSupport.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// Passes everything on to the real dialog and lets a test look at it after
// each percentage.
class TObservedFrontEnd : public TProgressFrontEnd {
public:
    using TProgressFrontEnd::TProgressFrontEnd;

    std::function<void(TfrmProgress& Form, double Percent)> OnProgress;
    QPointer<TfrmProgress> Form;
    int Jobs = 0;

    std::unique_ptr<IJobProgress> BeginJob(const std::string& Caption,
                                           const std::string& Text) override {
        std::unique_ptr<IJobProgress> Job = TProgressFrontEnd::BeginJob(Caption, Text);
        Form = static_cast<TfrmProgress*>(Job.get());
        ++Jobs;
        return std::make_unique<TObservedJob>(std::move(Job), *this);
    }

private:
    class TObservedJob : public IJobProgress {
    public:
        TObservedJob(std::unique_ptr<IJobProgress> Inner, TObservedFrontEnd& Owner)
            : FInner(std::move(Inner)), FOwner(Owner) {}
        void SetProgress(double Value) override {
            FInner->SetProgress(Value);
            if (FOwner.OnProgress)
                FOwner.OnProgress(*FOwner.Form, Value);
        }
        bool IsCancelled() override { return FInner->IsCancelled(); }

    private:
        std::unique_ptr<IJobProgress> FInner;
        TObservedFrontEnd& FOwner;
    };
};

// The audio of the files, each without its information frame.
std::vector<uint8_t> Concatenated(const std::vector<std::string>& Files) {
    std::vector<uint8_t> All;
    for (const std::string& File : Files) {
        const std::vector<uint8_t> Bytes = OutputAudio(File);
        All.insert(All.end(), Bytes.begin(), Bytes.end());
    }
    return All;
}

class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        Main.setGeometry(100, 100, 420, 240);
        Main.show();
        SetMainWindow(&Main);
        // Every question of the dialog lets the events through.
        FrontEnd.SetClock([this] { return Now += 0.01; });
        Splitter.SetFrontEnd(&FrontEnd);
        Source = FixturePath("cbr-128-info.mp3"); // 117 frames, no tags
    }
    void TearDown() override { SetMainWindow(nullptr); }

    void Split(int32_t Parts, const std::string& Folder) {
        Splitter.SetSourceFile(Source);
        Splitter.SetFolder(Folder);
        Splitter.SetPrefix("cbr-");
        Splitter.SetPartCount(Parts);
        Splitter.Execute(false);
    }

    std::vector<std::string> PartFiles(int Count) const {
        std::vector<std::string> Files;
        for (int I = 1; I <= Count; ++I)
            Files.push_back(Temp.File("cbr-" + std::to_string(I) + ".mp3"));
        return Files;
    }

    double Now = 1000;
    QWidget Main;
    TObservedFrontEnd FrontEnd{&Main};
    TSegmora Splitter;
    TTempDir Temp;
    std::string Source;
};

TEST_F(ExecuteTest, SplitShowsTheDialogAndLeavesTheParts) {
    int Calls = 0;
    FrontEnd.OnProgress = [&](TfrmProgress& Form, double) {
        if (Calls++ > 0)
            return;
        EXPECT_TRUE(Form.isVisible());
        EXPECT_EQ(Form.parentWidget(), &Main);
        EXPECT_EQ(Form.windowTitle(), QStringLiteral("Splitting..."));
        EXPECT_EQ(Form.findChild<QLabel*>(QStringLiteral("lblText"))->text(),
                  QStringLiteral("The selected file is being splited. Please wait..."));
        EXPECT_FALSE(Main.isEnabled());
        const QPoint Offset = Form.frameGeometry().center() - Main.frameGeometry().center();
        EXPECT_LE(Offset.manhattanLength(), 2) << "not centred on the main window";
    };
    Split(3, Temp.Path());

    EXPECT_EQ(FrontEnd.Jobs, 1);
    EXPECT_EQ(Calls, 116);               // the audio frames; the Info frame is not copied
    EXPECT_TRUE(FrontEnd.Form.isNull()); // freed at the end of the job
    EXPECT_TRUE(Main.isEnabled());
    EXPECT_FALSE(FileExists(Temp.File("cbr-4.mp3")));
    // A source of frames only comes back whole from its parts.
    EXPECT_EQ(Concatenated(PartFiles(3)), Concat(AudioFrames(Source)));
    EXPECT_LT(FileSizeOf(Temp.File("cbr-3.mp3")), FileSizeOf(Temp.File("cbr-1.mp3")));
}

TEST_F(ExecuteTest, SelectionUnderTheDialog) {
    double Last = -1;
    FrontEnd.OnProgress = [&](TfrmProgress&, double Percent) { Last = Percent; };
    Splitter.SetSourceFile(Source);
    Splitter.SetDestFile(Temp.File("first-second.mp3"));
    Splitter.SetSelStart(0);
    Splitter.SetSelEnd(1000);
    Splitter.SetID3Info(TID3Info{});
    Splitter.Execute(true);

    // 38 frames of 1152 / 44100 s end within the first second.
    const std::vector<uint8_t> Output = OutputAudio(Temp.File("first-second.mp3"));
    const std::vector<uint8_t> Whole = Concat(AudioFrames(Source));
    EXPECT_GE(Output.size(), 38u * 417);
    EXPECT_LE(Output.size(), 38u * 418);
    EXPECT_TRUE(std::equal(Output.begin(), Output.end(), Whole.begin()));
    EXPECT_EQ(Last, 99); // 38 * 26.12 ms of 1000 ms
    EXPECT_TRUE(FrontEnd.Form.isNull());
    EXPECT_TRUE(Main.isEnabled());
}

TEST_F(ExecuteTest, CancelDuringASplitKeepsThePartsWrittenSoFar) {
    bool Clicked = false;
    FrontEnd.OnProgress = [&](TfrmProgress& Form, double Percent) {
        if (Percent >= 40 && !Clicked) { // part 2 of 3 is being written
            Clicked = true;
            PostClick(Form.findChild<QPushButton*>(QStringLiteral("btnCancel")));
        }
    };
    Split(3, Temp.Path());

    ASSERT_TRUE(Clicked);
    EXPECT_TRUE(FileExists(Temp.File("cbr-1.mp3")));
    EXPECT_TRUE(FileExists(Temp.File("cbr-2.mp3")));
    EXPECT_FALSE(FileExists(Temp.File("cbr-3.mp3")));
    const std::vector<uint8_t> Parts = Concatenated(PartFiles(2));
    const std::vector<uint8_t> Whole = Concat(AudioFrames(Source));
    EXPECT_LT(Parts.size(), Whole.size() * 2 / 3);
    EXPECT_TRUE(std::equal(Parts.begin(), Parts.end(), Whole.begin()));
    EXPECT_TRUE(FrontEnd.Form.isNull());
    EXPECT_TRUE(Main.isEnabled());
}

TEST_F(ExecuteTest, ClosingTheDialogCancelsTheJob) {
    int Calls = 0;
    FrontEnd.OnProgress = [&](TfrmProgress& Form, double) {
        if (++Calls == 5)
            QMetaObject::invokeMethod(&Form, &QWidget::close, Qt::QueuedConnection);
    };
    Split(2, Temp.Path());
    EXPECT_EQ(Calls, 5); // handled when the fifth frame asks whether to stop
    EXPECT_TRUE(Main.isEnabled());
}

TEST_F(ExecuteTest, FailureIsShownAsAWarningWhileTheDialogIsUp) {
    QString Title;
    QString Text;
    bool DialogShown = false;
    bool MainDisabled = false;
    OnNextModal([&](QWidget* Window) {
        auto* Box = qobject_cast<QMessageBox*>(Window);
        ASSERT_NE(Box, nullptr);
        Title = Box->windowTitle();
        Text = Box->text();
        DialogShown = FrontEnd.Form && FrontEnd.Form->isVisible();
        MainDisabled = !Main.isEnabled();
        TypeKey(Box, Qt::Key_Return);
    });
    Split(2, Temp.File("missing-folder"));

    EXPECT_EQ(Title, QStringLiteral("Warning"));
    EXPECT_TRUE(Text.startsWith(QStringLiteral("Cannot create file "))) << Text.toStdString();
    EXPECT_TRUE(Text.contains(QStringLiteral("missing-folder/cbr-1.mp3")));
    EXPECT_TRUE(DialogShown);
    EXPECT_TRUE(MainDisabled);
    EXPECT_TRUE(FrontEnd.Form.isNull());
    EXPECT_TRUE(Main.isEnabled());
}

TEST_F(ExecuteTest, CancelIsHeardInTheMiddleOfALongSearch) {
    // 24 MiB without a frame, then frames: the dialog must be asked while
    // the search runs, or the click would only count behind a copied frame.
    std::vector<uint8_t> Bytes;
    for (int I = 0; I < 12 * 1024; ++I) {
        Bytes.insert(Bytes.end(), 1024, 0xFF);
        Bytes.insert(Bytes.end(), 1024, 0x00);
    }
    const std::vector<uint8_t> Frames = ReadFileBytes(Source);
    Bytes.insert(Bytes.end(), Frames.begin(), Frames.end());
    Source = Temp.File("late.mp3");
    WriteFileBytes(Source, Bytes);
    bool Clicked = false;
    QTimer::singleShot(0, [&] {
        if (FrontEnd.Form) {
            Clicked = true;
            PostClick(FrontEnd.Form->findChild<QPushButton*>(QStringLiteral("btnCancel")));
        }
    });
    int Calls = 0;
    FrontEnd.OnProgress = [&](TfrmProgress&, double) { ++Calls; };
    Split(2, Temp.Path());

    EXPECT_TRUE(Clicked);
    EXPECT_EQ(Calls, 0) << "no frame was copied";
    EXPECT_FALSE(FileExists(Temp.File("cbr-1.mp3"))) << "nor an empty part left";
    EXPECT_TRUE(Main.isEnabled());
}

} // namespace
