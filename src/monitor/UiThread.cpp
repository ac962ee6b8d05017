#include "monitor/UiThread.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "transfer/JobRunner.h"

namespace edi {

void OnThreadOf(QObject* context, std::function<void()> fn, bool wait) {
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(fn), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void UiJobDisplay::ShowStatus(int row, int column, const std::string& text) {
    OnThreadOf(context_, [this, row, column, text] { screen_.ShowStatus(row, column, text); }, false);
}

void UiJobDisplay::SetRowState(int row, std::int16_t state) {
    OnThreadOf(context_, [this, row, state] { screen_.SetRowState(row, state); }, state == kRowRunning);
}

void UiJobDisplay::MakeRowCurrent(int row) {
    OnThreadOf(context_, [this, row] { screen_.MakeRowCurrent(row); }, false);
}

MessageAnswer UiMessageBoxes::Show(const MessageRequest& request) {
    MessageAnswer answer = MessageAnswer::kOk;
    OnThreadOf(context_, [&] { answer = boxes_.Show(request); }, true);
    return answer;
}

void UiProgressView::Clear() {
    OnThreadOf(context_, [this] { view_.Clear(); }, false);
}

void UiProgressView::Show() {
    OnThreadOf(context_, [this] { view_.Show(); }, false);
}

void UiProgressView::AddLine(const std::string& line) {
    OnThreadOf(context_, [this, line] { view_.AddLine(line); }, false);
}

void UiProgressView::Close() {
    OnThreadOf(context_, [this] { view_.Close(); }, false);
}

}  // namespace edi
