// The small progress window of the transfers: a list that gets one line per step.
// The window draws it, the headless runner prints it, tests record it.
#pragma once

#include <iosfwd>
#include <string>

namespace edi {

// Names of the window and its list, for the screen that draws them.
inline constexpr const char* kProgressFormName = "G7001001";
inline constexpr const char* kProgressListName = "Lst_Hyoji";

class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void Clear() = 0;                           // empties the list
    virtual void Show() = 0;                            // shows the window, not modal
    virtual void AddLine(const std::string& line) = 0;  // appends one line
    virtual void Close() = 0;                           // closes the window
};

// Prints every line, one per output line, for the headless runner.
class ConsoleProgress final : public ProgressView {
public:
    explicit ConsoleProgress(std::ostream& out) : out_(out) {}
    void Clear() override {}
    void Show() override {}
    void AddLine(const std::string& line) override;
    void Close() override;

private:
    std::ostream& out_;
};

}  // namespace edi
