#include "decode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Writes `code_point` as UTF-8 at `out`; returns the end of what it wrote.
char* PutUtf8(char* out, unsigned code_point) {
  if (code_point < 0x80) {
    *out++ = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code_point >> 6));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code_point >> 12));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code_point >> 18));
    *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

constexpr unsigned kReplacement = 0xFFFD;

// A surrogate is only sound as the high half directly followed by the low half; any other is
// replaced, and the unit after a lone high half is still read as itself.
char* PutUtf16Unit(Decoder* decoder, char* out, unsigned unit) {
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (decoder->utf16_high != 0) {
    const unsigned high = decoder->utf16_high;
    decoder->utf16_high = 0;
    if (low) return PutUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
    out = PutUtf8(out, kReplacement);
  }
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    decoder->utf16_high = unit;
    return out;
  }
  return PutUtf8(out, low ? kReplacement : unit);
}

void DecodeUtf16(Decoder* decoder, std::string_view bytes) {
  if (bytes.empty()) return;
  const bool little = decoder->mark == FileMark::kUtf16Le;
  const auto unit_of = [little](unsigned first, unsigned second) {
    return little ? first | second << 8 : first << 8 | second;
  };
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  // Room for the worst case, three bytes a unit (and a replaced high half before the first),
  // made once: filling it anew for every block costs more than decoding it.
  const std::size_t room = decoder->used + 3 * (n / 2 + 2);
  if (decoder->decoded.size() < room) decoder->decoded.resize(room);
  char* out = &decoder->decoded[decoder->used];
  if (decoder->utf16_byte >= 0) {
    out = PutUtf16Unit(decoder, out, unit_of(static_cast<unsigned>(decoder->utf16_byte), *b));
    decoder->utf16_byte = -1;
    ++b;
    --n;
  }
  const std::size_t low_byte = little ? 0 : 1, high_byte = 1 - low_byte;
  while (n >= 2) {
    // Four ASCII units at a time: most files are mostly ASCII.
    if (n >= 8 && decoder->utf16_high == 0 &&
        (b[high_byte] | b[high_byte + 2] | b[high_byte + 4] | b[high_byte + 6]) == 0 &&
        ((b[low_byte] | b[low_byte + 2] | b[low_byte + 4] | b[low_byte + 6]) & 0x80) == 0) {
      const unsigned char ascii[] = {b[low_byte], b[low_byte + 2], b[low_byte + 4],
                                     b[low_byte + 6]};
      std::memcpy(out, ascii, sizeof ascii);
      out += sizeof ascii;
      b += 8;
      n -= 8;
      continue;
    }
    out = PutUtf16Unit(decoder, out, unit_of(b[0], b[1]));
    b += 2;
    n -= 2;
  }
  if (n == 1) decoder->utf16_byte = *b;
  decoder->used = static_cast<std::size_t>(out - decoder->decoded.data());
}

struct Mark {
  std::string_view bytes;
  FileMark mark;
};
constexpr Mark kMarks[] = {
    {"\xFF\xFE", FileMark::kUtf16Le},
    {"\xFE\xFF", FileMark::kUtf16Be},
    {"\xEF\xBB\xBF", FileMark::kUtf8},
};

}  // namespace

std::string_view DecodeBlock(Decoder* decoder, std::string_view bytes) {
  decoder->used = 0;
  std::string_view carried;  // the first bytes, held until the mark was decided
  if (decoder->mark == FileMark::kUndecided) {
    const std::size_t take = std::min(bytes.size(), 3 - decoder->held.size());
    decoder->held.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    const std::string_view held = decoder->held;
    decoder->mark = FileMark::kNone;
    carried = held;
    for (const Mark& mark : kMarks) {
      if (held.substr(0, mark.bytes.size()) == mark.bytes) {
        decoder->mark = mark.mark;
        carried = held.substr(mark.bytes.size());
        break;
      }
      // Fewer bytes than a whole mark: it may still follow in the next block.
      if (mark.bytes.substr(0, held.size()) == held) {
        decoder->mark = FileMark::kUndecided;
        return std::string_view();
      }
    }
  }
  if (decoder->mark == FileMark::kUtf16Le || decoder->mark == FileMark::kUtf16Be) {
    DecodeUtf16(decoder, carried);
    DecodeUtf16(decoder, bytes);
    return std::string_view(decoder->decoded.data(), decoder->used);
  }
  if (carried.empty()) return bytes;
  decoder->decoded.assign(carried.data(), carried.size());
  decoder->decoded.append(bytes.data(), bytes.size());
  return decoder->decoded;
}

std::string_view EndDecoding(Decoder* decoder) {
  if (decoder->mark == FileMark::kUndecided) {
    decoder->mark = FileMark::kNone;
    return decoder->held;
  }
  if (decoder->utf16_byte >= 0 || decoder->utf16_high != 0) return "\xEF\xBF\xBD";  // U+FFFD
  return std::string_view();
}

// Follows the bytes of a file without a mark through the well-formed UTF-8 sequences (overlong
// forms, surrogates and code points past U+10FFFF are not), across calls.
void CheckUtf8(Decoder* decoder, std::string_view text) {
  if (decoder->mark != FileMark::kNone || decoder->utf8_broken) return;
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = b + text.size();
  while (b < end) {
    if (decoder->utf8_needed == 0) {
      // Eight ASCII bytes at a time: most files are mostly ASCII.
      for (std::uint64_t word; end - b >= 8; b += 8) {
        std::memcpy(&word, b, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) break;
      }
      if (b == end) return;
      const unsigned char c = *b++;
      if (c < 0x80) continue;
      const Utf8Lead lead = Utf8LeadRule(c);
      if (lead.needed == 0) {
        decoder->utf8_broken = true;
        return;
      }
      decoder->utf8_needed = lead.needed;
      decoder->utf8_low = lead.low;
      decoder->utf8_high = lead.high;
      decoder->utf8_seen = true;
    } else {
      const unsigned char c = *b++;
      if (c < decoder->utf8_low || c > decoder->utf8_high) {
        decoder->utf8_broken = true;
        return;
      }
      decoder->utf8_low = 0x80;
      decoder->utf8_high = 0xBF;
      --decoder->utf8_needed;
    }
  }
}

TextEncoding DecidedEncoding(const Decoder& decoder) {
  if (decoder.mark != FileMark::kNone) return TextEncoding::kUtf8;
  // A sequence still due at the end is cut, and so broken.
  const bool utf8 = decoder.utf8_seen && !decoder.utf8_broken && decoder.utf8_needed == 0;
  return utf8 ? TextEncoding::kUtf8 : TextEncoding::kAnsi;
}
