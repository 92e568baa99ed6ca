#include "linguistics/zop/grouper.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "linguistics/fst/apply.h"
#include "linguistics/fst/coding.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {

namespace {

constexpr int32_t kGroupFunction = 62;
constexpr int32_t kRegroupFunction = 63;
constexpr int32_t kFirstCodedSize = 512;
constexpr int32_t kFirstFrames = 128;
constexpr int64_t kMaxCodedSize = int64_t{1} << 26;
constexpr size_t kMaxBracketName = 31;

int32_t check_grouper(const void* object, const Grouper** out) {
  if (object == nullptr) return kFstNullPointer;
  int32_t status = fst_status(object);
  if (status != 0) return status;
  auto* g = static_cast<const Grouper*>(object);
  if (g->magic != kGrouperMagic) return kFstBadFsm;
  *out = g;
  return 0;
}

struct Symbol {
  uint8_t label;
  uint32_t esc;
  bool operator==(const Symbol&) const = default;
};

// The symbols of a coded string.
std::vector<Symbol> symbols_of(const uint8_t* coded, const FSM* fsm) {
  std::vector<Symbol> list;
  const bool label_first = (fsm->coding_flags & 0x80) != 0;
  size_t i = 0;
  while (coded[i] != 0) {
    if (label_first) {
      Symbol s{coded[i++], 0};
      while (coded[i] == fsm->esc && coded[i] != 0) ++s.esc, ++i;
      list.push_back(s);
    } else {
      uint32_t esc = 0;
      while (coded[i] == fsm->esc) ++esc, ++i;
      if (coded[i] == 0) break;
      list.push_back({coded[i++], esc});
    }
  }
  return list;
}

struct Call {
  const char* tags;
  int32_t total;
  PhraseGroup* groups;
  int32_t capacity;
  char* names;
  int32_t names_size;
  const Grouper* grouper;
  int32_t name_pos = 0;
  std::vector<uint8_t> skip, mwt;
};

// Walks one result's output symbols against the coded input, writing groups
// from index g on. Returns the new group count or a negative code.
int32_t walk_result(Call* c, const std::vector<Symbol>& in, const std::vector<int32_t>& token_of,
                    const uint8_t* result, int32_t s, int32_t cnt, int32_t g, int32_t pass_first) {
  const FSM* fsm = c->grouper->fsm;
  std::vector<Symbol> out = symbols_of(result, fsm);
  const int32_t end = s + cnt;
  int32_t pos = s;
  size_t ii = 0;
  for (const Symbol& o : out) {
    if (ii < in.size() && o == in[ii]) {
      if (token_of[ii] >= 0) pos = token_of[ii] + 1;
      ++ii;
      continue;
    }
    const uint16_t code = static_cast<uint16_t>((o.label << 8) | (o.esc & 0xFF));
    const BracketEntry* b = nullptr;
    if (o.esc <= 0xFF) {
      for (int32_t k = 0; k < c->grouper->count; ++k) {
        if (c->grouper->brackets[k].code == code) {
          b = &c->grouper->brackets[k];
          break;
        }
      }
    }
    if (b == nullptr || b->name.size() > kMaxBracketName) return kFstBadFsm;
    if (b->opening) {
      while (pos < end && c->skip[static_cast<size_t>(pos)]) ++pos;
      int32_t first = pos;
      while (first > s && c->mwt[static_cast<size_t>(first - 1)]) --first;
      const int32_t len = static_cast<int32_t>(b->name.size());
      if (g >= c->capacity || int64_t{c->name_pos} + len + 1 > c->names_size) return kFstTooLong;
      std::memcpy(c->names + c->name_pos, b->name.c_str(), static_cast<size_t>(len) + 1);
      c->groups[g++] = {first, -1, c->name_pos};
      c->name_pos += len + 1;
    } else {
      for (int32_t k = g - 1; k >= pass_first; --k) {
        if (c->groups[k].count == -1) {
          c->groups[k].count = std::min(pos, c->total) - c->groups[k].first;
          break;
        }
      }
    }
  }
  return g;
}

// One grouping pass with function f over tokens s .. s + cnt - 1.
int32_t grouping_pass(Call* c, int32_t f, int32_t s, int32_t cnt, int32_t g) {
  const FSM* fsm = c->grouper->fsm;
  const uint8_t net = fst_function(f, fsm);
  if (net == 255) return kFstBadFunction;
  const int32_t style = f == kGroupFunction ? 0 : 1;
  int64_t coded_size = kFirstCodedSize;
  int64_t frames = kFirstFrames;
  bool grown = false;
  auto grow = [&]() {
    if (!grown) {
      coded_size = std::max<int64_t>(int64_t{3} * cnt, coded_size * 2);
      frames = std::max<int64_t>(cnt, frames * 2);
      grown = true;
    } else {
      coded_size *= 2;
      frames *= 2;
    }
    return coded_size <= kMaxCodedSize;
  };
  if (int64_t{cnt} / 4 + int64_t{2} * cnt > coded_size && !grow()) return kFstNoMemory;

  for (;;) {
    std::vector<uint8_t> input, coded_out;
    std::vector<char> client;
    std::vector<FstFrame> stack;
    try {
      input.resize(static_cast<size_t>(coded_size));
      coded_out.resize(static_cast<size_t>(coded_size));
      client.resize(static_cast<size_t>(coded_size));
      stack.resize(static_cast<size_t>(frames));
    } catch (const std::bad_alloc&) {
      return kFstNoMemory;
    }
    int32_t n = fst_encode_tokens(c->tags, cnt, s, input.data(), static_cast<int32_t>(coded_size), c->skip.data(),
                                  c->mwt.data(), fsm);
    int32_t rc = n;
    if (n >= 0) {
      rc = apply_fst(input.data(), coded_out.data(), static_cast<int32_t>(coded_size), net, false, stack.data(),
                     static_cast<int32_t>(frames), client.data(), static_cast<int32_t>(coded_size), nullptr, 0, style,
                     0, fsm);
    }
    if (rc == kFstTooLong || rc == kFstInternalBufferSmall || rc == kFstStackOverflow) {
      if (!grow()) return kFstNoMemory;
      continue;
    }
    if (rc < 0) return rc;
    if (rc == 0) return kFstBadFsm;

    // The input symbols and the token each tag symbol stands for.
    std::vector<Symbol> in = symbols_of(input.data(), fsm);
    std::vector<int32_t> token_of(in.size(), -1);
    size_t sym = 0;
    if (!in.empty() && in[0].label == fsm->tagsep && in[0].esc == 0) sym = 1;
    for (int32_t t = s; t < s + cnt && sym < in.size(); ++t) {
      if (c->skip[static_cast<size_t>(t)]) continue;
      token_of[sym++] = t;
    }
    const int32_t pass_first = g;
    if (style == 0) {
      return walk_result(c, in, token_of, coded_out.data(), s, cnt, g, pass_first);
    }
    const char* r = client.data();
    for (int32_t k = 0; k < rc; ++k) {
      g = walk_result(c, in, token_of, reinterpret_cast<const uint8_t*>(r), s, cnt, g, pass_first);
      if (g < 0) return g;
      r += std::strlen(r) + 1;
    }
    return g;
  }
}

}  // namespace

void* grouper_create(const void* fsm) {
  if (fsm == nullptr) return fst_error_handle(kFstNullPointer);
  const FSM* f = nullptr;
  if (int32_t rc = fst_check(fsm, &f); rc != 0) return fst_is_error_handle(fsm) ? const_cast<void*>(fsm)
                                                                                   : fst_error_handle(rc);
  if ((fst_capabilities(fsm) & kCapGrouper) == 0) return fst_error_handle(kFstBadFunction);
  const int32_t tags = fst_tag_count(f);
  std::vector<uint16_t> codes(static_cast<size_t>(tags) + 1);
  std::vector<char> names(static_cast<size_t>(tags) * 64 + 64);
  int32_t n;
  while ((n = fst_tag_list(f, codes.data(), static_cast<int32_t>(codes.size()), names.data(),
                           static_cast<int32_t>(names.size()))) == kFstTooLong) {
    names.resize(names.size() * 2);
  }
  if (n < 0) return fst_error_handle(n);
  auto* g = new (std::nothrow) Grouper;
  if (g == nullptr) return fst_error_handle(kFstNoMemory);
  const char* p = names.data();
  for (int32_t i = 0; i < n; ++i, p += std::strlen(p) + 1) {
    if (p[0] != '(' && p[0] != ')') continue;
    if (g->count == kMaxBrackets) {
      delete g;
      return fst_error_handle(kFstNoMemory);
    }
    BracketEntry& e = g->brackets[g->count++];
    e.code = codes[static_cast<size_t>(i)];
    e.opening = p[0] == '(';
    e.name = p + 1;
  }
  g->fsm = f;
  return g;
}

void grouper_free(void* grouper) {
  const Grouper* g = nullptr;
  if (check_grouper(grouper, &g) != 0) return;
  auto* owned = static_cast<Grouper*>(grouper);
  owned->magic = 0;
  delete owned;
}

int32_t group_phrases(const char* tags, int32_t count, int32_t flags, PhraseGroup* groups, int32_t capacity,
                      char* names, int32_t names_size, const void* grouper) {
  if (tags == nullptr || groups == nullptr || names == nullptr || grouper == nullptr) return kFstNullPointer;
  const Grouper* gr = nullptr;
  if (int32_t rc = check_grouper(grouper, &gr); rc != 0) return rc;
  if (count < 0 || capacity < 0 || names_size < 0) return kFstBadNumber;

  Call c{tags, count, groups, capacity, names, names_size, gr, 0, {}, {}};
  try {
    c.skip.assign(static_cast<size_t>(count) + 1, 0);
    c.mwt.assign(static_cast<size_t>(count) + 1, 0);
  } catch (const std::bad_alloc&) {
    return kFstNoMemory;
  }
  int32_t g = grouping_pass(&c, kGroupFunction, 0, count, 0);
  if (g < 0 || (flags & kGroupRegroup) == 0) return g;

  const int32_t parents = g;
  for (int32_t i = 0; i < parents; ++i) {
    const PhraseGroup parent = groups[i];
    if (parent.count <= 1 || std::strcmp(names + parent.name, "np") != 0) continue;
    const int32_t start = g;
    int32_t added = grouping_pass(&c, kRegroupFunction, parent.first, parent.count, g);
    if (added < 0) return added;
    int32_t keep = start;
    for (int32_t k = start; k < added; ++k) {
      if (groups[k].count < parent.count) groups[keep++] = groups[k];
    }
    g = keep;
  }
  if (flags & kGroupSort) {
    std::stable_sort(groups, groups + g, [](const PhraseGroup& a, const PhraseGroup& b) {
      return a.first != b.first ? a.first < b.first : a.count > b.count;
    });
  }
  return g;
}

}  // namespace vorlane
