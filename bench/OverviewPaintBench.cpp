// Shows the timeline at the window's size while the window's builder decodes
// a file's loudness overview behind it, repaints it every 30 ms as the window
// does, and says how long the events waited at most during the decoding: the
// longest time between the ticks of a 10 ms timer.
//
//   segmora-overview-paint-bench FILE

#include "FrameClock.h"
#include "OverviewBuilder.h"
#include "TrackLine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: segmora-overview-paint-bench FILE\n");
        return 2;
    }

    TTrackLine Line;
    Line.resize(1000, 120);
    Line.show();
    TOverviewBuilder Builder(argv[1], "");

    QElapsedTimer Clock;
    qint64 LastTick = 0;
    qint64 LongestGap = 0;
    QTimer Ticks;
    Ticks.setTimerType(Qt::PreciseTimer);
    Ticks.setInterval(10);
    QObject::connect(&Ticks, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        LongestGap = std::max(LongestGap, Now - LastTick);
        LastTick = Now;
    });

    int Paints = 0;
    bool Placed = false;
    QTimer Repaint;
    Repaint.setInterval(30);
    QObject::connect(&Repaint, &QTimer::timeout, [&] {
        const bool Running = Builder.State() == TOverviewBuilder::TState::Running;
        if (const auto Overview = Builder.Overview()) {
            if (!Placed) {
                // As the window does: positions in milliseconds.
                Line.SetMaxPos(Overview->Duration() / MsToTicks(1));
                Line.SetOverview(Overview, MsToTicks(1));
                Placed = true;
            } else {
                Line.OverviewChanged();
            }
        }
        Line.repaint();
        ++Paints;
        if (!Running)
            App.quit();
    });

    Clock.start();
    Builder.Start();
    Ticks.start();
    Repaint.start();
    App.exec();
    const double Took = static_cast<double>(Clock.nsecsElapsed()) / 1e9;
    if (Builder.State() != TOverviewBuilder::TState::Done) {
        std::fprintf(stderr, "%s: no overview\n", argv[1]);
        return 1;
    }
    std::printf("longest wait between 10 ms ticks: %.1f ms\nrepaints: %d\ndecoding: %.3f s\n",
                static_cast<double>(LongestGap) / 1e6, Paints, Took);
    return 0;
}
