#pragma once

// The play-selected dialog (frmPlaySelected): plays only the segment marked
// on the main window's track line, lets the user move its two ends by tenths
// of a second with the arrows or type them to the millisecond, and on OK
// writes them back. Its track line shows the segment with the same loudness
// picture as the main window's. It borrows the main window's player and
// never polls it itself: the main window's timer and player notification
// reach it through frmPlaySelected while it is shown. Marks and positions
// are milliseconds.

#include "UpDown.h"

#include <QDialog>

#include <cstdint>
#include <memory>

class QIcon;
class QLineEdit;
class TAudioPlayer;
class TLoudnessOverview;
class TTrackLine;

namespace Ui {
class frmPlaySelected;
}

// What the dialog borrows from the window that opens it.
class ISelectionHost {
public:
    virtual ~ISelectionHost() = default;
    // The window the dialog is centred on and belongs to.
    virtual QWidget* HostWindow() = 0;
    virtual TAudioPlayer& Player() = 0;
    // The main track line: its SelStart, SelEnd and MaxPos.
    virtual TTrackLine& TrackLine() = 0;
    // Called after new marks were written into TrackLine.
    virtual void UpdateSelectionLabels() = 0;
    // The file's loudness so far; null while there is none. It may grow
    // while the dialog is shown.
    virtual std::shared_ptr<const TLoudnessOverview> Overview() const = 0;
    // The length of the file's frames on the frames' clock; 0 when unknown.
    virtual int64_t FrameTicks() const = 0;
    // Whether marks go onto frame boundaries; cut to the sample, a mark
    // stays on its millisecond.
    virtual bool MarksOnFrames() const { return true; }
};

class TfrmPlaySelected : public QDialog {
    Q_OBJECT

public:
    explicit TfrmPlaySelected(ISelectionHost& Host);
    ~TfrmPlaySelected() override;

    // Each tick of the main window's timer while the dialog is shown.
    void UpdateProgress();
    // Each tick of the main window's fast timer: the cursor follows
    // playback smoothly; nothing else happens.
    void FollowPlayer();
    // The player reported the end of playback (the segment's end).
    void PlaybackComplete();

protected:
    // Return in a time box takes the time instead of closing the dialog.
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void FormCreate();
    void FormDestroy();
    void CreateTrackLine();
    void TrackLineChange();
    void StartPlaying();
    void StopPlaying();
    void tbnPlayPauseClick();
    void tbnGoToStartClick();
    void udnStartClick(TUpDown::TUDBtnType Button);
    void udnEndClick(TUpDown::TUDBtnType Button);
    // The segment's ends moved by an arrow or a typed time.
    void MoveStart(int64_t NewStart);
    void MoveEnd(int64_t NewEnd);
    // The time typed into edtStart or edtEnd, taken within the same
    // bounds as the arrows'; else the box shows its end again.
    void TimeTyped(QLineEdit* Edit);
    void ShowOverview();
    void btnApplyClick();
    void ShowPicture(int Index);

    std::unique_ptr<Ui::frmPlaySelected> ui;
    ISelectionHost& FHost;
    // The host's player, borrowed for the dialog's lifetime.
    TAudioPlayer* FPlayer = nullptr;
    // Lives in pnlTrackLine; MinPos and MaxPos are the segment's ends.
    TTrackLine* FTrackLine = nullptr;
    // The player's position (100 ns) when the dialog opened.
    int64_t FSavedPosition = 0;
    // Monotonic seconds of the last accepted move of an end; 0 for none.
    double FAdjustTime = 0;
    bool FPlaying = false;
};

// The dialog while it is shown, else nullptr.
extern TfrmPlaySelected* frmPlaySelected;

// Creates the dialog, sets frmPlaySelected, shows it modally, then frees it
// and empties frmPlaySelected, also when an error escapes.
void ShowPlaySelected(ISelectionHost& Host);
