// Runs the split of the cutter under the real progress dialog, as the main
// window does, for the benchmark beside the command line's split.
//
//   segmora-execute-bench SOURCE FOLDER PARTS [--stats] [--cancel-after SECONDS]
//
// --stats prints how often the dialog's bar was painted and the longest
// time the events waited during the job; --cancel-after clicks Cancel (a
// queued click, as from the window system) after that many seconds and
// prints how long the job took to stop.

#include "MsgUtils.h"
#include "ProgressDlg.h"
#include "QueuedClick.h"
#include "Segmora.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class TPaintCounter : public QObject {
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint)
            ++Paints;
        return false;
    }
};

// Keeps the dialog of the job at hand.
class TBenchFrontEnd : public TProgressFrontEnd {
public:
    using TProgressFrontEnd::TProgressFrontEnd;
    std::function<void(TfrmProgress*)> OnBegin;

    std::unique_ptr<IJobProgress> BeginJob(const std::string& Caption,
                                           const std::string& Text) override {
        std::unique_ptr<IJobProgress> Job = TProgressFrontEnd::BeginJob(Caption, Text);
        if (OnBegin)
            OnBegin(static_cast<TfrmProgress*>(Job.get()));
        return Job;
    }
};

int Usage() {
    std::fprintf(stderr, "usage: segmora-execute-bench SOURCE FOLDER PARTS [--stats] "
                         "[--cancel-after SECONDS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    if (argc < 4)
        return Usage();
    bool Stats = false;
    double CancelAfter = -1;
    for (int I = 4; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg == "--stats")
            Stats = true;
        else if (Arg == "--cancel-after" && I + 1 < argc)
            CancelAfter = std::atof(argv[++I]);
        else
            return Usage();
    }

    QWidget Main;
    Main.resize(420, 240);
    Main.show();
    SetMainWindow(&Main);

    TBenchFrontEnd FrontEnd(&Main);
    TSegmora Splitter;
    Splitter.SetFrontEnd(&FrontEnd);
    Splitter.SetSourceFile(argv[1]);
    Splitter.SetFolder(argv[2]);
    Splitter.SetPrefix("part-");
    Splitter.SetPartCount(std::atoi(argv[3]));

    QElapsedTimer Clock;
    TPaintCounter BarPaints;
    qint64 LastRound = -1;
    qint64 LongestWait = 0;
    QTimer Rounds; // fires once in every round of event handling
    Rounds.setInterval(0);
    QObject::connect(&Rounds, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        if (LastRound >= 0)
            LongestWait = std::max(LongestWait, Now - LastRound);
        LastRound = Now;
    });
    qint64 ClickedAt = -1;

    FrontEnd.OnBegin = [&](TfrmProgress* Form) {
        if (Stats) {
            Form->findChild<QProgressBar*>(QStringLiteral("ProgressBar"))
                ->installEventFilter(&BarPaints);
            Rounds.start();
        }
        if (CancelAfter >= 0) {
            QPointer<QPushButton> Cancel =
                Form->findChild<QPushButton*>(QStringLiteral("btnCancel"));
            QTimer::singleShot(static_cast<int>(CancelAfter * 1000), [&ClickedAt, &Clock, Cancel] {
                if (Cancel) {
                    ClickedAt = Clock.nsecsElapsed();
                    PostClick(Cancel);
                }
            });
        }
    };

    Clock.start();
    Splitter.Execute(false);
    const qint64 Finished = Clock.nsecsElapsed();

    if (Stats)
        std::printf("bar paints: %d\nlongest wait for events: %.1f ms\n", BarPaints.Paints,
                    static_cast<double>(LongestWait) / 1e6);
    if (CancelAfter >= 0) {
        if (ClickedAt < 0)
            std::printf("finished before the cancel\n");
        else
            std::printf("stopped %.1f ms after the click\n",
                        static_cast<double>(Finished - ClickedAt) / 1e6);
    }
    std::printf("job: %.3f s\n", static_cast<double>(Finished) / 1e9);
    return 0;
}
