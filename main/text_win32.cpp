// Win32 text conversion: the system's ANSI code page, as the console and
// the 8-bit file functions take it.
#include <windows.h>

#include <string>

#include "wide_names.h"

namespace shrinkwell {

namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

std::string ToNarrow(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = W(text);
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
  return out;
}

std::u16string ToWide(const std::string& text) {
  if (text.empty()) return std::u16string();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(&out[0]),
                      length);
  return out;
}

}  // namespace shrinkwell
