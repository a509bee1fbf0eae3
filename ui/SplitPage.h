#pragma once

// The page "Split by parts": which way the file is split (by size, as it
// always was, or by one of the planner's ways), the chosen way's settings
// and their keeping between runs. The window asks it for the plan, shows
// the plan's part starts on the timeline and hands the plan to the cutter.

#include "SourceTag.h"
#include "SplitPlan.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TLoudnessOverview;

namespace Ui {
class frmMain;
}

// In the order of the page's chooser.
enum class TSplitMode { BySize, EqualTime, Every, AtSilences, AtMarkers, CueSheet, Chapters };

struct TSplitSettings {
    TSplitMode Mode = TSplitMode::BySize;
    int32_t Parts = 2;
    int64_t EveryMs = 5 * 60 * 1000;
    // Each cut moved to the quietest point within NearPauseMs of it.
    bool EveryNearPause = false;
    static constexpr int64_t NearPauseMs = 5000;
    double ThresholdDb = -40;
    int64_t MinSilenceMs = 500;
    // No part shorter, 0 for none; the silence itself left out of the parts.
    int64_t MinPartMs = 0;
    bool DropSilence = false;
    std::string CueFile;
};

// What a plan is made of besides the settings, all on the frames' clock.
struct TPlanSource {
    TFrameGrid Grid;
    // The whole file's loudness: needed for the split at silences.
    const TLoudnessOverview* Loudness = nullptr;
    std::vector<int64_t> MarkerTicks;
    std::vector<TChapter> Chapters;
};

// The plan of Settings for Source; none for the split by size. Raises
// Exception with a message for the user when the way chosen can't make
// one: no markers, no chapters, a cue sheet that can't be read.
std::optional<TSplitPlan> MakeSplitPlan(const TSplitSettings& Settings, const TPlanSource& Source);

class TSplitPage : public QObject {
    Q_OBJECT

public:
    // Fills the chooser and connects the page's controls, which belong to
    // the window's form.
    TSplitPage(Ui::frmMain& Form, QWidget* Owner);

    // The settings as the controls hold them. Raises Exception naming the
    // box whose text is no value.
    TSplitSettings Settings() const;
    TSplitMode Mode() const;

    // Kept with the program's other settings.
    void Load();
    void Save() const;

    // A change of the way or of one of its settings.
    void SetOnChange(std::function<void()> Handler) { FOnChange = std::move(Handler); }

private:
    void ShowModeControls();
    void SelectCueFile();
    // "More..." of the split at silences: its further settings in a dialog
    // of their own, for which the page has no room.
    void EditSilenceOptions();
    void ShowSilenceOptions();
    void Changed();

    Ui::frmMain& ui;
    QWidget* FOwner;
    std::function<void()> FOnChange;
    // The split at silences' settings behind "More...": the shortest part
    // as typed and whether the silence is left out.
    QString FMinPart;
    bool FDropSilence = false;
};
