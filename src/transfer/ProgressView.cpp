#include "transfer/ProgressView.h"

#include <ostream>

namespace edi {

void ConsoleProgress::AddLine(const std::string& line) { out_ << line << '\n'; }

void ConsoleProgress::Close() { out_.flush(); }

}  // namespace edi
