// Identification: text preparation per encoding, the trigram and character
// passes, scaling to 0..200 and the ordering of the rows.
#include "linguistics/lid/lid_engine.h"

#include <algorithm>
#include <cwctype>
#include <locale.h>
#include <new>
#include <utility>
#include <wctype.h>

namespace vorlane {

namespace {

constexpr uint16_t kBlank = 0x20;

// The case test runs in a fixed locale object, never the process locale.
locale_t unicode_locale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

bool is_separator(uint16_t u) {
  if ((u >= 0x2000 && u <= 0x2006) || (u >= 0x2008 && u <= 0x200B) || (u >= 0x2012 && u <= 0x2015)) return true;
  switch (u) {
    case 0x3000: case '-': case 0x2010: case 0x207B: case 0x208B: case 0x2212: case 0x301C: case 0x3030:
    case '"': case '(': case ')': case '[': case ']': case '{': case '}':
    case '\t': case '\n': case '\v': case '\f': case '\r': case '+': case '=':
      return true;
    default:
      return false;
  }
}

bool is_ascii_letter(uint16_t u) { return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'); }

// True when the prepared text holds a unit of the encoding's typical range;
// trigram models of type 2 are then left out.
bool has_typical_unit(int encoding, const std::vector<uint16_t>& units) {
  for (uint16_t u : units) {
    switch (encoding) {
      case 3:
        if ((u >= 0xC0 && u <= 0xD6) || (u >= 0xD8 && u <= 0xF6) || (u >= 0xF8 && u <= 0xFF)) return true;
        break;
      case 5:
        if (u >= 0x80) return true;
        break;
      case 7:
        if ((u >= 0x80 && u <= 0x9F) || (u >= 0xAE && u <= 0xAF) || (u >= 0xBE && u <= 0xBF) ||
            (u >= 0xCB && u <= 0xCF) || (u >= 0xD8 && u <= 0xD9) || (u >= 0xE5 && u <= 0xEF) ||
            (u >= 0xF1 && u <= 0xF5))
          return true;
        break;
      default:
        return false;
    }
  }
  return false;
}

// Adds to each model's sum the score its language has in the run of key
// (one merge over the ascending model indexes and the ascending run), or the
// model's low score.
void add_run_scores(const lid_engine& engine, long key_index, const std::vector<int>& models, int64_t* sums,
                    bool found_counts_for_type2) {
  const lid_ngram_table& t = engine.data.ngrams;
  const lid_score_entry* entry = nullptr;
  const lid_score_entry* end = nullptr;
  if (key_index >= 0) {
    entry = t.entries.data() + t.run_start[key_index];
    end = entry + t.run_length[key_index];
  }
  for (size_t i = 0; i < models.size(); ++i) {
    const lid_language& l = engine.data.languages[models[i]];
    while (entry < end && entry->index < models[i]) ++entry;
    bool found = entry < end && entry->index == models[i];
    if (found && (found_counts_for_type2 || l.type != 2)) sums[i] += entry->score;
    else sums[i] += l.low;
  }
}

void swap_rows(lid_result* rows, int a, int b) { std::swap(rows[a], rows[b]); }

}  // namespace

int lid_normalise_text(const lid_engine& engine, int encoding, const char* text, int length,
                       std::vector<uint16_t>* units) {
  char fallback[2] = {'\xFF', '\xFF'};
  size_t capacity = static_cast<size_t>(length);
  int written = 0;
  for (;;) {
    units->assign(capacity, 0);
    int outbytes = 0;
    int consumed = engine.mapper->MapString(encoding, 3, const_cast<char*>(text), length,
                                            reinterpret_cast<char*>(units->data()),
                                            static_cast<int>(capacity * 2), &outbytes, fallback);
    if (consumed < 0) return consumed;
    written = outbytes / 2;
    // Out of room: enlarge by the text length and convert again. Otherwise
    // bytes left at the end (a character cut short) are dropped and the
    // units that did convert are used.
    if (consumed < length && static_cast<size_t>(outbytes) >= capacity * 2) {
      capacity += static_cast<size_t>(length);
      continue;
    }
    break;
  }
  units->resize(written);
  lid_prepare_units(units);
  return static_cast<int>(units->size());
}

void lid_prepare_units(std::vector<uint16_t>* units) {
  std::vector<uint16_t>& u = *units;

  bool after_digit = false;
  for (uint16_t& unit : u) {
    if (unit >= '0' && unit <= '9') {
      unit = kBlank;
      after_digit = true;
    } else if ((unit == ',' || unit == '.') && after_digit) {
      unit = kBlank;
      after_digit = false;
    } else {
      if (!is_ascii_letter(unit) && is_separator(unit)) unit = kBlank;
      after_digit = false;
    }
  }

  locale_t loc = unicode_locale();
  std::vector<bool> upper(u.size());
  for (size_t i = 0; i < u.size(); ++i) upper[i] = iswupper_l(static_cast<wint_t>(u[i]), loc) != 0;
  for (size_t i = 0; i < u.size(); ++i) {
    if (!upper[i]) continue;
    bool neighbour = (i > 0 && upper[i - 1]) || (i + 1 < u.size() && upper[i + 1]);
    if (neighbour) u[i] = static_cast<uint16_t>(towlower_l(static_cast<wint_t>(u[i]), loc));
  }
}

void lid_scale_scores(const lid_engine& engine, lid_result* rows, int count) {
  const std::vector<lid_language>& languages = engine.data.languages;
  double top = engine.floor;
  for (const lid_language& l : languages) top = std::max<double>(top, l.top);
  for (int r = 0; r < count; ++r) {
    const lid_language* l = nullptr;
    for (const lid_language& candidate : languages)
      if (candidate.code == rows[r].language) {
        l = &candidate;
        break;
      }
    if (!l) continue;
    double score = rows[r].score, low = l->low, mid = l->mid;
    if (score <= low) rows[r].score = 0;
    else if (score <= mid) rows[r].score = static_cast<int32_t>((score - low) / (mid - low) * 100);
    else if (score <= top) rows[r].score = static_cast<int32_t>((score - mid) / (top - mid) * 100) + 100;
    else rows[r].score = 200;
  }
}

void lid_sort_rows(lid_result* rows, int lo, int hi) {
  if (lo >= hi) return;
  swap_rows(rows, lo, (lo + hi) / 2);
  int last = lo;
  for (int i = lo + 1; i <= hi; ++i)
    if (rows[lo].score < rows[i].score) swap_rows(rows, ++last, i);
  swap_rows(rows, lo, last);
  lid_sort_rows(rows, lo, last - 1);
  lid_sort_rows(rows, last + 1, hi);
}

int lid_identify(lid_engine* engine, const char* text, int length, lid_result* rows, int capacity,
                 const int* candidates, int candidate_count) {
  if (!engine || !text || !rows) return -28;
  if (capacity < 1 || length < 3 || length > kLidMaxTextLength || (candidates && candidate_count < 1)) return -29;
  if (candidates)
    for (int i = 0; i < candidate_count; ++i)
      if (candidates[i] < 1 || candidates[i] > 23) return -55;

  try {
    size_t room = 0;
    for (const lid_encoding& e : engine->encodings) room += e.trigram_models.size() + e.char_models.size();
    std::vector<lid_result> all;
    all.reserve(room);
    std::vector<int64_t> sums;
    std::vector<int> counts;  // the position count of each row's encoding
    std::vector<uint16_t> units;
    const lid_ngram_table& table = engine->data.ngrams;

    for (const lid_encoding& e : engine->encodings) {
      if (!e.linked) continue;
      if (candidates && std::find(candidates, candidates + candidate_count, e.number) == candidates + candidate_count)
        continue;
      int n = lid_normalise_text(*engine, e.number, text, length, &units);
      if (n < 0) return n;
      if (n < 3) continue;

      std::vector<int> trigram_models;
      bool leave_out_type2 = has_typical_unit(e.number, units);
      for (int m : e.trigram_models)
        if (!(leave_out_type2 && engine->data.languages[m].type == 2)) trigram_models.push_back(m);
      if (all.size() + trigram_models.size() + e.char_models.size() > room) return -42;

      const size_t first = all.size();
      for (int m : trigram_models) {
        const lid_language& l = engine->data.languages[m];
        all.push_back({l.code, l.type, e.number, 0});
      }
      for (int m : e.char_models) {
        const lid_language& l = engine->data.languages[m];
        all.push_back({l.code, l.type, e.number, 0});
      }
      sums.resize(all.size(), 0);
      int64_t* trigram_sums = sums.data() + first;
      int64_t* char_sums = trigram_sums + trigram_models.size();

      int positions = 0;
      for (int p = 1; p + 1 < n; ++p) {
        if (units[p] == kBlank) continue;
        ++positions;
        long key_index = -1;
        if (units[p - 1] < 256 && units[p] < 256 && units[p + 1] < 256)
          key_index = lid_find_key(table, lid_trigram_key(units[p - 1], units[p], units[p + 1]));
        add_run_scores(*engine, key_index, trigram_models, trigram_sums, true);
      }
      for (int p = 0; p < n; ++p)
        add_run_scores(*engine, lid_find_key(table, lid_unit_key(units[p])), e.char_models, char_sums, false);
      counts.resize(all.size(), positions);
    }

    for (size_t r = 0; r < all.size(); ++r)
      all[r].score = counts[r] < 1 ? engine->floor
                                   : static_cast<int32_t>(static_cast<double>(sums[r]) / counts[r]);
    const int total = static_cast<int>(all.size());
    lid_scale_scores(*engine, all.data(), total);
    lid_sort_rows(all.data(), 0, total - 1);
    int above = 0;
    for (const lid_result& r : all)
      if (r.score > 20) ++above;
    int n = std::min(above, capacity);
    std::copy(all.begin(), all.begin() + n, rows);
    return n;
  } catch (const std::bad_alloc&) {
    return -3;
  }
}

}  // namespace vorlane
