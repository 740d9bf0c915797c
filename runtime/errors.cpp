#include "errors.h"

#include <cstdarg>
#include <cstdio>

namespace shrinkwell {

__attribute__((noinline)) const void* CodeAddressHere() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

std::string Format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(&text[0], text.size() + 1, pattern, again);
  }
  va_end(again);
  return text;
}

namespace {

const char* InOutErrorText(int code) {
  switch (code) {
    case 2: return "Datei nicht gefunden";
    case 3: return "Pfad nicht gefunden";
    case 4: return "Zu viele offene Dateien";
    case 5: return "Zugriff auf die Datei verweigert";
    case 100: return "Lesefehler beim Datenträger";
    case 101: return "Schreibfehler beim Datenträger";
    case 106: return "Ungültige numerische Eingabe";
    default: return nullptr;
  }
}

std::string InOutMessage(int code) {
  const char* fixed = InOutErrorText(code);
  return fixed ? std::string(fixed) : Format("E/A-Fehler %d", code);
}

}  // namespace

EInOutError::EInOutError(int code, const void* at) : Exception(InOutMessage(code), at), code_(code) {}

}  // namespace shrinkwell
