// A progress window for tests: keeps every call in order, lines as they were added.
#pragma once

#include <string>
#include <vector>

#include "transfer/ProgressView.h"

namespace edi::test {

class RecordedProgress final : public ProgressView {
public:
    void Clear() override { events_.push_back("<clear>"); }
    void Show() override { events_.push_back("<show>"); }
    void AddLine(const std::string& line) override {
        events_.push_back(line);
        lines_.push_back(line);
    }
    void Close() override { events_.push_back("<close>"); }

    // Every call: "<clear>", "<show>", "<close>" or the added line.
    const std::vector<std::string>& events() const { return events_; }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> events_;
    std::vector<std::string> lines_;
};

}  // namespace edi::test
