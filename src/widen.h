#ifndef TARNWICK_WIDEN_H_
#define TARNWICK_WIDEN_H_

#include <vector>

#include "common.h"

/// A text in `encoding` as the zero-terminated wide text the Unicode calls take; a malformed UTF-8
/// sequence becomes U+FFFD. (A vector, not a wide string: that would link the library's whole wide
/// string into an exe meant to stay small.)
std::vector<wchar_t> Widen(const char* text, TextEncoding encoding);

#endif  // TARNWICK_WIDEN_H_
