#include "linguistics/wstrop/wide_codecs.h"

namespace vorlane::linguistics {

const char* convert_status_text(ConvertStatus status) {
  switch (status) {
    case ConvertStatus::ok: return "";
    case ConvertStatus::illegal_byte_sequence: return "Illegal byte sequence";
    case ConvertStatus::odd_ucs2_length: return "odd number of UCS-2 bytes";
    case ConvertStatus::utf16_in_ucs2: return "UTF-16 cells in UCS-2 string";
    case ConvertStatus::unpaired_low_half: return "unpaired low-half UTF-16 cell";
    case ConvertStatus::unpaired_high_half: return "unpaired high-half UTF-16 cell";
    case ConvertStatus::ucs4_length: return "Length of UCS-4 string not multiple of 4";
    case ConvertStatus::above_max_code_point: return "character above U+10FFFF";
    case ConvertStatus::utf7_invalid_escape: return "Invalid escape in UTF-7";
    case ConvertStatus::utf7_odd_octets: return "odd number of octets in quoted sequence";
  }
  return "conversion failed";
}

ConvertResult utf8_to_cells(const unsigned char* src, size_t n, wcell* out) {
  ConvertResult r;
  size_t i = 0;
  while (i < n) {
    unsigned char b = src[i];
    uint32_t value;
    size_t length;
    if (b < 0x80) {
      value = b;
      length = 1;
    } else if (b >= 0xC0 && b <= 0xDF) {
      value = b & 0x1F;
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      value = b & 0x0F;
      length = 3;
    } else if (b >= 0xF0 && b <= 0xF7) {
      value = b & 0x07;
      length = 4;
    } else {
      // A continuation byte without a lead, 0xFE, 0xFF, or the lead of a
      // 5- or 6-byte form, which can only say more than U+10FFFF or say it
      // overlong.
      r.status = ConvertStatus::illegal_byte_sequence;
      return r;
    }
    if (length > n - i) {  // truncated at the end of the text
      r.status = ConvertStatus::illegal_byte_sequence;
      return r;
    }
    for (size_t k = 1; k < length; ++k) {
      unsigned char c = src[i + k];
      if ((c & 0xC0) != 0x80) {
        r.status = ConvertStatus::illegal_byte_sequence;
        return r;
      }
      value = (value << 6) | (c & 0x3F);
    }
    if (value > kMaxCodePoint) {
      r.status = ConvertStatus::illegal_byte_sequence;
      return r;
    }
    r.count += put_code_point(value, out ? out + r.count : nullptr);
    i += length;
  }
  return r;
}

size_t cells_to_utf8(const wcell* cells, size_t n, unsigned char* out) {
  size_t written = 0;
  auto put = [&](uint32_t byte) {
    if (out) out[written] = static_cast<unsigned char>(byte);
    ++written;
  };
  for (size_t i = 0; i < n;) {
    uint32_t c = next_code_point(cells, n, &i);
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c <= 0xFFFF) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return written;
}

bool UnitDecoder::fail(ConvertStatus status) {
  if (flags_ & kSkipInvalid) return true;
  status_ = status;
  return false;
}

void UnitDecoder::push(wcell unit) {
  if (status_ != ConvertStatus::ok) return;
  if (!(flags_ & kUcs2DoUtf16)) {
    if (is_surrogate(unit)) {
      fail(ConvertStatus::utf16_in_ucs2);
      return;
    }
    put(unit);
    return;
  }
  if (pending_high_) {
    pending_high_ = false;
    if (is_low_half(unit)) {
      put(high_);
      put(unit);
      return;
    }
    if (!fail(ConvertStatus::unpaired_high_half)) return;
    // The unpaired high half is dropped; this unit is read normally.
  }
  if (is_high_half(unit)) {
    pending_high_ = true;
    high_ = unit;
  } else if (is_low_half(unit)) {
    fail(ConvertStatus::unpaired_low_half);
  } else {
    put(unit);
  }
}

ConvertResult UnitDecoder::finish() {
  if (status_ == ConvertStatus::ok && pending_high_) {
    pending_high_ = false;
    fail(ConvertStatus::unpaired_high_half);
  }
  ConvertResult r;
  r.count = count_;
  r.status = status_;
  return r;
}

ConvertResult ucs2_to_cells(const unsigned char* src, size_t n, int flags, wcell* out) {
  if (n % 2) {
    if (!(flags & kSkipInvalid)) return ConvertResult{0, ConvertStatus::odd_ucs2_length};
    --n;
  }
  UnitDecoder units(flags, out);
  for (size_t i = 0; i < n; i += 2) units.push(static_cast<wcell>((src[i] << 8) | src[i + 1]));
  return units.finish();
}

size_t cells_to_ucs2(const wcell* cells, size_t n, unsigned char* out) {
  if (out) {
    for (size_t i = 0; i < n; ++i) {
      out[2 * i] = static_cast<unsigned char>(cells[i] >> 8);
      out[2 * i + 1] = static_cast<unsigned char>(cells[i] & 0xFF);
    }
  }
  return 2 * n;
}

ConvertResult ucs4_to_cells(const unsigned char* src, size_t n, int flags, wcell* out) {
  ConvertResult r;
  if (n % 4) {
    if (!(flags & kSkipInvalid)) {
      r.status = ConvertStatus::ucs4_length;
      return r;
    }
    n -= n % 4;
  }
  for (size_t i = 0; i < n; i += 4) {
    uint32_t value = (uint32_t{src[i]} << 24) | (uint32_t{src[i + 1]} << 16) |
                     (uint32_t{src[i + 2]} << 8) | src[i + 3];
    if (value > kMaxCodePoint) {
      if (flags & kSkipInvalid) continue;
      r.status = ConvertStatus::above_max_code_point;
      return r;
    }
    r.count += put_code_point(value, out ? out + r.count : nullptr);
  }
  return r;
}

size_t cells_to_ucs4(const wcell* cells, size_t n, unsigned char* out) {
  size_t written = 0;
  for (size_t i = 0; i < n;) {
    uint32_t c = next_code_point(cells, n, &i);
    if (out) {
      out[written] = static_cast<unsigned char>(c >> 24);
      out[written + 1] = static_cast<unsigned char>((c >> 16) & 0xFF);
      out[written + 2] = static_cast<unsigned char>((c >> 8) & 0xFF);
      out[written + 3] = static_cast<unsigned char>(c & 0xFF);
    }
    written += 4;
  }
  return written;
}

}  // namespace vorlane::linguistics
