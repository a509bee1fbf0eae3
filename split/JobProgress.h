#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

// What a long job needs from whoever shows its progress: a percentage after
// every frame, and the question whether to stop. The progress dialog
// implements it in the window; the command line draws a bar.
class IJobProgress {
public:
    virtual ~IJobProgress() = default;
    virtual void SetProgress(double Value) = 0;
    virtual bool IsCancelled() = 0;
};

// The front end a job runs under: it shows a progress display for the job
// and shows a failure's message while that display is still up.
class IJobFrontEnd {
public:
    virtual ~IJobFrontEnd() = default;
    // Creates and shows the progress display with the given caption and
    // text; the job ends by destroying it.
    virtual std::unique_ptr<IJobProgress> BeginJob(const std::string& Caption,
                                                   const std::string& Text) = 0;
    virtual void ShowJobError(const std::string& Message) = 0;
};

// Position * 100 div Total (64-bit integer division, truncating): the
// percentage the jobs report after every frame from the offset of the frame
// just passed. Kept without a division per frame: while Position stays
// between the offsets where the whole percentage changes, only compares.
// Positions may come in any order. Total must be positive.
class TPercentOf {
public:
    explicit TPercentOf(int64_t Total) : FTotal(Total) {}

    double operator()(int64_t Position) {
        if (Position < FLow || Position >= FHigh) {
            const int64_t Percent = Position * 100 / FTotal;
            FValue = static_cast<double>(Percent);
            // The first offsets that give Percent and Percent + 1.
            FLow = CeilDiv100(Percent * FTotal);
            FHigh = CeilDiv100((Percent + 1) * FTotal);
        }
        return FValue;
    }

private:
    static int64_t CeilDiv100(int64_t Value) {
        return Value >= 0 ? (Value + 99) / 100 : Value / 100;
    }

    int64_t FTotal;
    int64_t FLow = 0;
    int64_t FHigh = 0;
    double FValue = 0;
};

// The integer nearest to Time * 100,000 / MarkMs (ties to even): the
// percentage of the end mark, in milliseconds, reached at Time seconds,
// which the save of a selection reports after every frame from the running
// play time. The division and rounding are done again only near a change of
// the value: between bounds kept a millionth of a percent inside the points
// where the value changes, the value is known.
class TTimePercent {
public:
    explicit TTimePercent(int64_t MarkMs) : FMark(MarkMs) {}

    double operator()(double Time) {
        if (Time > FLow && Time < FHigh)
            return FValue;
        FValue = std::nearbyint(Time * MsPerPercent / static_cast<double>(FMark));
        // Only a positive mark and a moderate value give bounds far enough
        // from the rounding of the quotient; otherwise every call computes.
        if (FMark > 0 && FValue >= 0 && FValue < 1e6) {
            const double PerUnit = static_cast<double>(FMark) / MsPerPercent;
            FLow = (FValue - 0.5 + Margin) * PerUnit;
            FHigh = (FValue + 0.5 - Margin) * PerUnit;
        }
        return FValue;
    }

private:
    static constexpr double Margin = 1e-6;
    // Milliseconds in a second, times a hundred for the percentage.
    static constexpr double MsPerPercent = 100'000;
    int64_t FMark;
    double FValue = 0;
    double FLow = 0;
    double FHigh = 0;
};
