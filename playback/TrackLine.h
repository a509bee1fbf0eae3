#pragma once

// A timeline control: a bar for the range MinPos..MaxPos, a thick cursor at
// CurPos and, in the bottom margin, ticks for SelStart and SelEnd with a band
// between them. A left click or drag moves CurPos. Positions carry no unit;
// the program uses milliseconds. Owners put it in a panel and let it fill
// the panel (a layout without margins, or a geometry that follows the
// panel's size).
//
// Given a loudness overview, the bar shows the sound itself: per pixel
// column the peak as a light band and the RMS as a darker one, on a dB
// scale, with the selection tinted. Without one it is the plain bar.
//
// The bar shows a view of the range, which the user zooms (Ctrl+wheel,
// Plus and Minus) and pans (wheel, middle-button drag, the scroll strip in
// the bottom margin while zoomed in). With the keyboard focus, Left and
// Right step the cursor and Space asks the owner to play or pause.
//
// Markers are the user's own cut points: thin dark orange lines with a
// handle above the bar. A left drag that starts on a handle moves the
// marker (through OnValidPos), a right click on a marker or Delete near the
// cursor removes it. Part starts are a preview of where a split would cut,
// drawn dashed; the control only shows them.
//
// Whether it shows the cursor and the marks and takes the mouse is its own
// Enabled flag, set by its owner, not QWidget's enabled state: the progress
// dialog of a job disables the whole main window, and the timeline keeps
// showing where the job's marks lie meanwhile.

#include "LoudnessOverview.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QRect;

// The modifier keys and mouse buttons held during a mouse event.
struct TShiftState {
    Qt::KeyboardModifiers Modifiers;
    Qt::MouseButtons Buttons;
};

class TTrackLine : public QWidget {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TTrackLine* Sender)>;
    // May change Pos, the position picked with the mouse or a key.
    using TPosValidEvent = std::function<void(TTrackLine* Sender, TShiftState Shift, int64_t& Pos)>;

    explicit TTrackLine(QWidget* Parent = nullptr);

    // Stored only; the owner repaints when it needs to. The view follows:
    // a new MaxPos shows the whole range; a new MinPos keeps the whole
    // range in view when it was, else keeps the view inside the range.
    int64_t MinPos() const { return FMinPos; }
    void SetMinPos(int64_t Value);
    int64_t MaxPos() const { return FMaxPos; }
    void SetMaxPos(int64_t Value);

    // A value outside MinPos..MaxPos is ignored; a change repaints and then
    // calls OnChange.
    int64_t CurPos() const { return FCurPos; }
    void SetCurPos(int64_t Value);
    // As SetCurPos, without OnChange: for following playback.
    void UpdateCurPos(int64_t Value);

    // -1 means not set. A mark that meets or passes the other one clears
    // the other one, so two set marks always have SelStart < SelEnd.
    int64_t SelStart() const { return FSelStart; }
    void SetSelStart(int64_t Value);
    int64_t SelEnd() const { return FSelEnd; }
    void SetSelEnd(int64_t Value);

    int LeftMargin() const { return FLeftMargin; }
    void SetLeftMargin(int Value) { FLeftMargin = Value; }
    int TopMargin() const { return FTopMargin; }
    void SetTopMargin(int Value) { FTopMargin = Value; }
    int RightMargin() const { return FRightMargin; }
    void SetRightMargin(int Value) { FRightMargin = Value; }
    int BottomMargin() const { return FBottomMargin; }
    void SetBottomMargin(int Value) { FBottomMargin = Value; }

    // Sorted, without duplicates; positions outside MinPos..MaxPos are not
    // taken. Every change of the list, by a call or by the user, repaints
    // and calls OnMarkersChange.
    const std::vector<int64_t>& Markers() const { return FMarkers; }
    void AddMarker(int64_t Pos);
    void RemoveMarker(int64_t Pos);
    void ClearMarkers();
    // Replaces the list at once, with one call of OnMarkersChange.
    void SetMarkers(std::vector<int64_t> Positions);
    void SetOnMarkersChange(TNotifyEvent Handler) { FOnMarkersChange = std::move(Handler); }
    // The marker within a few pixels of column X, nearest first; -1 for
    // none.
    int64_t MarkerNear(int X) const;

    // Where each part of a planned split starts; empty shows none.
    const std::vector<int64_t>& PartStarts() const { return FPartStarts; }
    void SetPartStarts(std::vector<int64_t> Starts);

    void SetOnChange(TNotifyEvent Handler) { FOnChange = std::move(Handler); }
    void SetOnValidPos(TPosValidEvent Handler) { FOnValidPos = std::move(Handler); }
    // The view moved or was zoomed, by the user or by a call.
    void SetOnViewChange(TNotifyEvent Handler) { FOnViewChange = std::move(Handler); }
    // Space was pressed while the control had the focus.
    void SetOnPlayPause(TNotifyEvent Handler) { FOnPlayPause = std::move(Handler); }

    // The loudness to draw; null draws the plain bar. Position Pos stands
    // for tick Origin + Pos * TicksPerPos of the overview (TicksPerSecond /
    // 1000 for milliseconds; Origin where the positions' clock starts on
    // the overview's). Repaints.
    void SetOverview(std::shared_ptr<const TLoudnessOverview> Overview, int64_t TicksPerPos,
                     int64_t Origin = 0);
    const std::shared_ptr<const TLoudnessOverview>& Overview() const { return FOverview; }
    // More of the overview may be known: repaints when it is.
    void OverviewChanged();

    // The stretch of the range the bar shows, ViewStart < ViewEnd unless the
    // range is empty. SetView keeps it inside MinPos..MaxPos and at least
    // as long as the deepest zoom allows, repaints and calls OnViewChange.
    int64_t ViewStart() const { return FViewStart; }
    int64_t ViewEnd() const { return FViewEnd; }
    void SetView(int64_t Start, int64_t End);
    // Whether the view shows less than the whole range.
    bool Zoomed() const;
    void ShowAll();
    // Factor > 1 zooms in, < 1 out; Pos stays in the column it was in.
    void ZoomAt(int64_t Pos, double Factor);
    // Does nothing unless both marks are set.
    void ZoomToSelection();
    // The length of one audio frame in positions; the deepest zoom shows a
    // frame at least 4 pixels wide. 0 (unknown): one position per column.
    void SetFrameLength(double PosPerFrame);
    double FrameLength() const { return FFrameLength; }
    // Zoomed in, one column of the view spans less than 100 positions:
    // tenths no longer tell columns apart. Never with the whole range in
    // view, which reads in tenths as it always did.
    bool ShowsMillis() const;
    // While on, a cursor moved out of the view (or past its right end)
    // pages the view to it, the zoom kept.
    void SetFollowCursor(bool Value) { FFollowCursor = Value; }
    bool FollowCursor() const { return FFollowCursor; }

    // Right- and bottom-exclusive, in the control's own pixels.
    QRect GetBarRect() const;
    QRect GetHitRect() const;

    // Column of the bar to position and back within the view, rounding
    // halves to even; column Left maps to ViewStart and column Right - 1 to
    // ViewEnd.
    int64_t XToPos(int X) const;
    int PosToX(int64_t Pos) const;

    int64_t DoValidPos(TShiftState Shift, int64_t Pos);

    // Disabled, the control paints only its silver bar and ignores the
    // mouse and the keys. A change repaints.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

protected:
    bool event(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    enum class TDrag { None, Cursor, Pan, Thumb, Marker };
    // The rows of one column's bands: half heights in pixels, -1 for none.
    struct TColumnBand {
        int16_t Peak = -1;
        int16_t Rms = -1;
        bool Known = false;
    };
    struct TStripGeometry {
        int Left = 0;
        int Width = 0;
        int ThumbLeft = 0;
        int ThumbWidth = 0;
    };

    bool MoveCurPos(int64_t Value);
    void PickPosition(int X, TShiftState Shift);
    // The view set without clamping the span below the deepest zoom
    // further than the range allows; returns whether it changed.
    bool PlaceView(int64_t Start, int64_t End);
    void ViewChanged();
    // Steps from the bar's first column to its last.
    int ColumnSteps() const;
    int64_t MinSpan() const;
    void ZoomAround(double Pos, double Fraction, double Factor);
    void PanBy(int64_t Delta);
    // The cursor back in view: paged to near the left edge.
    bool PageToCursor();
    void StepCursor(int Direction, Qt::KeyboardModifiers Modifiers);
    TStripGeometry Strip() const;
    bool InStrip(int Y) const;
    void StripPress(int X);
    const std::vector<TColumnBand>& Bands();
    void PaintOverview(QPainter& Painter, const QRect& Inner);
    void PaintStrip(QPainter& Painter);
    void PaintMarkers(QPainter& Painter, int Top, int Bottom);
    // The marker whose handle is at X, Y; -1 for none.
    int64_t MarkerOnHandle(int X, int Y) const;
    void MarkersChanged();

    int64_t FMinPos = 0;
    int64_t FMaxPos = 0;
    int64_t FCurPos = 0;
    int64_t FSelStart = 0;
    int64_t FSelEnd = 0;
    int64_t FViewStart = 0;
    int64_t FViewEnd = 0;
    int FLeftMargin = 5;
    int FTopMargin = 9;
    int FRightMargin = 5;
    int FBottomMargin = 14;
    TNotifyEvent FOnChange;
    TPosValidEvent FOnValidPos;
    TNotifyEvent FOnViewChange;
    TNotifyEvent FOnPlayPause;
    TNotifyEvent FOnMarkersChange;
    std::vector<int64_t> FMarkers;
    std::vector<int64_t> FPartStarts;
    // While a marker is dragged: the other markers, and where it is now.
    std::vector<int64_t> FDragOthers;
    int64_t FDragMarker = -1;
    TDrag FDrag = TDrag::None;
    // Where a pan or thumb drag began: the mouse column and the view start.
    int FDragX = 0;
    int64_t FDragViewStart = 0;
    bool FEnabled = true;
    bool FFollowCursor = false;
    // The focus is drawn: it came by the keyboard, or a key was used.
    bool FFocusShown = false;
    double FFrameLength = 0;

    std::shared_ptr<const TLoudnessOverview> FOverview;
    int64_t FTicksPerPos = 1;
    int64_t FOverviewOrigin = 0;
    // The bands of the last view drawn, and what they were drawn for.
    std::vector<TColumnBand> FBands;
    struct TBandKey {
        const TLoudnessOverview* Overview = nullptr;
        int64_t TicksPerPos = 0, Origin = 0, ViewStart = 0, ViewEnd = 0, Known = -1;
        bool Complete = false;
        int Width = 0, Height = 0;
        bool operator==(const TBandKey&) const = default;
    } FBandKey;
    // Known blocks when OverviewChanged last looked.
    int64_t FSeenKnown = -1;
};
