#ifndef TARNWICK_DECODE_H_
#define TARNWICK_DECODE_H_

#include <string>
#include <string_view>

#include "common.h"

/// What the first bytes of a file say about its encoding.
enum class FileMark {
  kUndecided,  // too few bytes seen yet
  kNone,       // no byte-order mark: UTF-8 if every byte at or above 0x80 is, else ANSI
  kUtf8,
  kUtf16Le,
  kUtf16Be,
};

/// State of decoding one file, carried from block to block.
struct Decoder {
  FileMark mark = FileMark::kUndecided;
  std::string held;         // the first bytes, while they may still be a byte-order mark
  std::string decoded;      // the text of the last block, where it differs from its bytes
  std::size_t used = 0;     // how much of `decoded` a UTF-16 block's text fills
  int utf16_byte = -1;      // the first byte of a UTF-16 code unit cut by a block boundary
  unsigned utf16_high = 0;  // a high surrogate waiting for its low half
  // The UTF-8 test of a file without a mark, over the bytes read as text.
  int utf8_needed = 0;                              // continuation bytes still due
  unsigned char utf8_low = 0x80, utf8_high = 0xBF;  // the range of the next one
  bool utf8_seen = false;                           // at least one sequence of two or more bytes
  bool utf8_broken = false;  // a byte at or above 0x80 outside a well-formed sequence
};

/// What a byte at or above 0x80 asks of the bytes after it as the lead of a UTF-8 sequence: how
/// many continuation bytes (0 when it cannot lead one), and the range of the first of them, which
/// shuts out overlong forms (after E0, F0), surrogates (after ED) and values past U+10FFFF (after
/// F4); the others are 80 to BF.
struct Utf8Lead {
  int needed;
  unsigned char low, high;
};
constexpr Utf8Lead Utf8LeadRule(unsigned char lead) {
  if (lead < 0xC2 || lead > 0xF4) return {0, 0x80, 0xBF};
  return {lead >= 0xF0   ? 3
          : lead >= 0xE0 ? 2
                         : 1,
          static_cast<unsigned char>(lead == 0xE0   ? 0xA0
                                     : lead == 0xF0 ? 0x90
                                                    : 0x80),
          static_cast<unsigned char>(lead == 0xED   ? 0x9F
                                     : lead == 0xF4 ? 0x8F
                                                    : 0xBF)};
}

/// The text of the next block of `bytes` of a file: without the byte-order mark, and UTF-16 turned
/// into UTF-8 (a malformed unit becomes U+FFFD). The result may point into `decoder`, and holds
/// only until the next call.
std::string_view DecodeBlock(Decoder* decoder, std::string_view bytes);

/// The text a file cut short leaves undecoded: the first bytes of a mark that never came are
/// text; half a UTF-16 unit, or a high surrogate alone, is one U+FFFD. Holds until the next call.
std::string_view EndDecoding(Decoder* decoder);

/// Follows `text`, read from a file without a mark, through the UTF-8 test; does nothing for a
/// file with a mark. Call it on all the text that counts, in order, across blocks.
void CheckUtf8(Decoder* decoder, std::string_view text);

/// The encoding of all the text of a file, once every piece of it went through CheckUtf8: UTF-8
/// for a file with a mark, or one whose every byte at or above 0x80 is part of a whole, well-formed
/// UTF-8 sequence and that holds one; else ANSI.
TextEncoding DecidedEncoding(const Decoder& decoder);

#endif  // TARNWICK_DECODE_H_
