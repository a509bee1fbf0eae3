#pragma once

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
