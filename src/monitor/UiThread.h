// What a job on the session thread shows goes to the screen through these: every call is
// carried over to the user-interface thread as an event. Message boxes and the start of a job
// wait there until the screen has answered (the box was closed; the progress window is up and
// drawn); the other calls are queued and return at once, in order.
#pragma once

#include <functional>

#include "startup/MessageBox.h"
#include "transfer/JobSeams.h"
#include "transfer/ProgressView.h"

class QObject;

namespace edi {

// Runs fn on the thread of context: at once when already there, else as a queued event; with
// wait the caller blocks until it has run. The user-interface thread must never wait for the
// session thread while this is waiting for it (it only posts to it).
void OnThreadOf(QObject* context, std::function<void()> fn, bool wait);

class UiJobDisplay final : public JobDisplay {
public:
    // context: a QObject of the user-interface thread that outlives the jobs (the window).
    UiJobDisplay(JobDisplay& screen, QObject* context) : screen_(screen), context_(context) {}
    void ShowStatus(int row, int column, const std::string& text) override;
    // A row turning to "running" is a job starting: it waits until the screen has shown it.
    void SetRowState(int row, std::int16_t state) override;
    void MakeRowCurrent(int row) override;

private:
    JobDisplay& screen_;
    QObject* context_;
};

class UiMessageBoxes final : public MessageBoxes {
public:
    UiMessageBoxes(MessageBoxes& boxes, QObject* context) : boxes_(boxes), context_(context) {}
    MessageAnswer Show(const MessageRequest& request) override;

private:
    MessageBoxes& boxes_;
    QObject* context_;
};

class UiProgressView final : public ProgressView {
public:
    UiProgressView(ProgressView& view, QObject* context) : view_(view), context_(context) {}
    void Clear() override;
    void Show() override;
    void AddLine(const std::string& line) override;
    void Close() override;

private:
    ProgressView& view_;
    QObject* context_;
};

}  // namespace edi
