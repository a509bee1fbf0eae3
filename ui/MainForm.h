#pragma once

// The main window (frmMain): the program's one top-level window. It holds the
// source file (the path is the caption of lblSourceFileName, nowhere else),
// the player that plays it, the timeline on which the user moves the playing
// position and marks a segment, and the cutter that writes the segment or the
// parts. The timeline lies above the two pages and serves both: the page
// "Split by selection" plays, marks, auditions and saves; the page "Split by
// parts" cuts the whole file into parts in a folder, by size or by a plan
// (TSplitPage), whose part starts the timeline previews.
// Markers dropped on the timeline (M) are cleared when another file opens.
//
// Positions on the timeline are milliseconds on the frames' clock, and every
// mark lands on a frame boundary. While a file is open, its loudness is
// decoded in the background and drawn on the timeline as it comes in. The
// window grows: the timeline takes the extra room.

#include "PlaySelForm.h"
#include "SaveForm.h"
#include "SplitPage.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLineEdit;
class QTimer;
class TLoudnessOverview;
class TOverviewBuilder;
class TAudioPlayer;
class TPathDialog;
class TProgressFrontEnd;
class TSegmora;
class QCheckBox;
class TTrackLine;

namespace Ui {
class frmMain;
}

class TfrmMain : public QWidget, public IFolderHistory, public ISelectionHost {
    Q_OBJECT

public:
    explicit TfrmMain(QWidget* Parent = nullptr);
    ~TfrmMain() override;

    TAudioPlayer& Player() override { return *FPlayer; }
    TTrackLine& TrackLine() override { return *FTrackLine; }
    TSegmora& Splitter() { return *FSplitter; }
    QWidget* HostWindow() override { return this; }
    std::shared_ptr<const TLoudnessOverview> Overview() const override;
    int64_t FrameTicks() const override;
    bool MarksOnFrames() const override;

    QString LastOpenFolder() const override { return FLastOpenFolder; }
    void SetLastOpenFolder(const QString& Value) { FLastOpenFolder = Value; }
    QString LastSaveFolder() const override { return FLastSaveFolder; }
    void SetLastSaveFolder(const QString& Value) override { FLastSaveFolder = Value; }

    // The play-selected dialog calls it after writing new marks.
    void UpdateSelectionLabels() override;

    // Closes the current source and opens Name when it is an existing file,
    // as a drop does; the start-up uses it for a file named on the command
    // line.
    void OpenDroppedFile(const QString& Name);

protected:
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void FormCreate();
    void FormDestroy();
    void CreateTrackLine();
    // Hands the switch to the cutter before a job; after it, the status
    // Done, with a word when the source could not be cut to the sample.
    void SetUpExact();
    QString WithExactNote(const QString& Done) const;
    // The timeline's clock follows the switch: cutting to the sample, its
    // times count from the first sample played, as the cutter's do, so
    // that a file cut so shows its marks' times from zero. Marks, markers
    // and the cursor keep their sound.
    void ChangeClock();
    void SetShortCuts();
    // Writes the track line's CurPos, seeking the player through OnChange.
    void SetCurPos(int64_t Value);
    void BindHandlers();

    void UpdateControls();
    void UpdateHint();
    void UpdatePositionLabel();
    // To the millisecond while the view is zoomed in beyond what tenths
    // tell apart, else in tenths.
    QString PositionText(int64_t Ms) const;
    // A position of the timeline moved onto the nearest frame boundary,
    // inside the file.
    int64_t SnapToFrame(int64_t Ms) const;
    // Where a mark set now lands: the playing position at this moment, or
    // the cursor when nothing plays.
    int64_t MarkPosition() const;
    // What the last job wrote, shown until the next one.
    void ShowStatus(const QString& Text);

    // The controls' places at the smallest size, moved and stretched by
    // how much the window is larger.
    void RecordLayout();
    void ApplyLayout();
    // A restored position that no screen shows is moved onto one.
    void KeepOnScreen();

    void StartOverview();
    void StopOverview();
    // The fast timer: the cursor follows playback smoothly, and the
    // picture fills in while it is decoded.
    void CursorTimerTimer();
    // Opens the box in which the start or end mark's time is typed.
    void TypeMark(bool Start);
    void FinishTypedMark(bool Apply);

    void OpenPlayer();
    void ClosePlayer();
    void CloseSourceFile();
    void OpenSourceFile(const QString& FileName);
    void WriteErrorInfo(const QString& FileName);
    // Asks before each of Paths that exists: Yes, Yes to All or Cancel.
    bool ConfirmOverwriteParts(const std::vector<std::string>& Paths);
    // What the plans are made of now; the loudness only once it is whole.
    TPlanSource PlanSource() const;
    // The plan of the split page's way; none for the split by size.
    // Raises Exception when the way can't make one.
    std::optional<TSplitPlan> CurrentPlan() const;
    // Shows where the parts of the chosen way start, or why there are none.
    void UpdatePreview();

    void btnSelectSourceFileClick();
    void btnSelectOutputFolderClick();
    void tbnPlayClick();
    void tbnPauseClick();
    void TimerTimer();
    void btnCloseClick();
    void btnHelpClick();
    void btnAboutClick();
    void acnGoStartExecute();
    void acnGoEndExecute();
    void acnSelectStartExecute();
    void acnSelectEndExecute();
    void acnPlaySelectedExecute();
    void acnSaveSelectedExecute();
    void acnZoomInExecute();
    void acnZoomOutExecute();
    void acnZoomAllExecute();
    void acnZoomSelectionExecute();
    void acnAddMarkerExecute();
    void sbnSplitByPartsClick();
    void PageControlChange();
    void WMDropFiles(const QString& Name);
    void WMPlayerNotify();
    void TrackLineChange();

    // Runs a handler the way the application's default error display
    // would: a failure's message is shown in an error box, one at a time.
    void Guarded(const std::function<void()>& Handler);
    // The action whose shortcut Key is, or nullptr.
    QAction* ShortcutAction(const QKeyEvent* Key) const;

    std::unique_ptr<Ui::frmMain> ui;
    std::unique_ptr<TSegmora> FSplitter;
    std::unique_ptr<TProgressFrontEnd> FFrontEnd;
    std::unique_ptr<TAudioPlayer> FPlayer;
    TTrackLine* FTrackLine = nullptr;
    // "Cut to the sample", beside the page tabs: one switch for both jobs.
    QCheckBox* chkExact = nullptr;
    TPathDialog* OutputDialog = nullptr;
    TSplitPage* FSplitPage = nullptr;
    // The source's chapters, read when it was opened.
    std::vector<TChapter> FChapters;
    // The split at silences waits for the whole picture.
    bool FPreviewWaits = false;
    // The status label shows why the chosen way has no plan.
    bool FPreviewFailed = false;
    // The split by size walks the source to find its parts' starts: on a
    // thread of its own, picked up by the fast timer.
    std::future<std::vector<int64_t>> FSizePreview;
    void TakeSizePreview();
    QTimer* Timer = nullptr;
    QTimer* CursorTimer = nullptr;
    std::unique_ptr<TOverviewBuilder> FOverviewBuilder;
    // The box over a mark's label while its time is typed.
    QLineEdit* edtMarkTime = nullptr;
    bool FTypingStart = false;
    struct TPlacement {
        QWidget* Control;
        QRect Base;
        bool MoveX, MoveY, GrowWidth, GrowHeight;
    };
    std::vector<TPlacement> FPlacements;
    bool FFileOpened = false;
    bool FPlaying = false;
    bool FShowingError = false;
    bool FWritingCurPos = false;
    QString FLastOpenFolder;
    QString FLastSaveFolder;
};

// The main window, from its creation at start-up to the end of the run.
extern TfrmMain* frmMain;
