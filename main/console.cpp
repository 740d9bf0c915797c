#include "console.h"

#include "console_platform.h"
#include "errors.h"

namespace shrinkwell {
namespace console {

namespace {

std::string& Pending() {
  static std::string pending;
  return pending;
}

}  // namespace

void Write(const std::string& text) { Pending() += text; }

void WriteLine(const std::string& text) { Pending() += text + "\r\n"; }

void Flush() {
  std::string& pending = Pending();
  if (pending.empty()) return;
  const std::string text = std::move(pending);
  pending.clear();
  if (const int code = WriteAll(false, text.data(), text.size())) throw EInOutError(code);
}

void ReadLine() {
  Flush();
  if (const int code = ReadUntilLineEnd()) throw EInOutError(code);
}

void WriteErrorReport(const std::string& className, const void* address, const std::string& message) {
  try {
    Flush();
  } catch (const Exception&) {
    // Standard output is gone; the report still goes to standard error.
  }
  const char* fullStop = (!message.empty() && message.back() != '.') ? "." : "";
  const std::string report =
      ReportText(Format("Exception %s in Modul %s bei %08lX.\r\n%s%s\r\n", className.c_str(),
                        ModuleNameOf(address).c_str(), ModuleOffsetOf(address), message.c_str(), fullStop)) +
      "\r\n";
  WriteAll(true, report.data(), report.size());
}

}  // namespace console
}  // namespace shrinkwell
