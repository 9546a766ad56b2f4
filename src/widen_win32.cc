#include "widen.h"

#include <windows.h>

std::vector<wchar_t> Widen(const char* text, TextEncoding encoding) {
  const UINT code_page = encoding == TextEncoding::kUtf8 ? CP_UTF8 : CP_ACP;
  const int size = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
  std::vector<wchar_t> wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
  if (size > 0) MultiByteToWideChar(code_page, 0, text, -1, wide.data(), size);
  return wide;
}
