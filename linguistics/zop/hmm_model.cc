#include "linguistics/zop/hmm_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "linguistics/fst/coding.h"
#include "linguistics/fst/enumerate.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {

namespace {

constexpr int32_t kEof = 0x7FFFFFFF;
constexpr size_t kMaxString = 255;

// Sequential reader of the model file.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}
  bool byte(uint8_t* b) {
    if (pos_ == len_) {
      ssize_t n = ::read(fd_, buf_, sizeof buf_);
      if (n <= 0) return false;
      len_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    *b = buf_[pos_++];
    return true;
  }
  // A 32-bit little-endian number; false at end of file.
  bool number(int32_t* v) {
    uint32_t x = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!byte(&b)) return false;
      x |= uint32_t{b} << (8 * i);
    }
    *v = static_cast<int32_t>(x);
    return true;
  }
  // A NUL-terminated string of at most max bytes; false when longer or cut.
  bool string(std::string* s, size_t max) {
    s->clear();
    for (;;) {
      uint8_t b;
      if (!byte(&b)) return false;
      if (b == 0) return true;
      if (s->size() == max) return false;
      s->push_back(static_cast<char>(b));
    }
  }

 private:
  int fd_;
  uint8_t buf_[8192];
  size_t pos_ = 0, len_ = 0;
};

void sort_codes(std::vector<uint16_t>* codes, const Hmm* hmm) {
  std::sort(codes->begin(), codes->end());
  codes->erase(std::unique(codes->begin(), codes->end()), codes->end());
  std::erase(*codes, hmm->mwt_number);
}

int32_t find_exact(const Hmm* hmm, const std::vector<uint16_t>& codes) {
  uint32_t h = hmm_class_hash(codes.data(), codes.size()) % kHmmChains;
  for (int32_t e = hmm->heads[h]; e >= 0; e = hmm->entries[static_cast<size_t>(e)].next) {
    if (hmm->entries[static_cast<size_t>(e)].codes == codes) return e;
  }
  return -1;
}

// Reads and checks the model; 0 or a negative code.
int32_t read_model(Reader* in, Hmm* hmm) {
  uint8_t header[12];
  for (uint8_t& b : header) {
    if (!in->byte(&b)) return kFstDamaged;
  }
  if (header[4] != kHmmFileType) return kFstDamaged;
  std::string version;
  for (;;) {
    uint8_t b;
    if (!in->byte(&b)) return kFstDamaged;
    if (b == '\n') break;
    if (version.size() == 31) return kFstDamaged;
    version.push_back(static_cast<char>(b));
  }
  char clg_version[32];
  if (fst_version(clg_version, sizeof clg_version, hmm->clg) != 0) return kFstTooLong;
  if (header[7] != static_cast<uint8_t>(fst_language(hmm->clg)) || version != clg_version) return kFstModelMismatch;
  for (;;) {
    uint8_t b;
    if (!in->byte(&b)) return kFstDamaged;
    if (b == 0) break;
  }
  int32_t n1, width, ntag, nclass;
  if (!in->number(&n1) || !in->number(&width) || !in->number(&ntag) || !in->number(&nclass)) return kFstDamaged;
  if (n1 == kEof || width == kEof || ntag == kEof || nclass == kEof) return kFstDamaged;
  if (ntag <= 0 || nclass <= 0 || ntag > kHmmMaxTags || nclass > kHmmMaxClasses) return kFstDamaged;
  if (width <= 0 || width > kHmmMaxWidth) return kFstDamaged;
  hmm->width = width;
  hmm->ntag = ntag;
  hmm->nclass = nclass;

  hmm->tag_names.resize(static_cast<size_t>(ntag));
  for (std::string& name : hmm->tag_names) {
    if (!in->string(&name, kMaxString)) return kFstDamaged;
  }
  std::string s;
  if (!in->string(&s, kMaxString) || !s.empty()) return kFstDamaged;

  // Class strings, each encoded through the CLG and entered into the table.
  std::vector<uint8_t> coded(4 * kHmmMaxClassCodes + 16);
  std::vector<uint16_t> numbers(kHmmMaxClassCodes);
  for (;;) {
    if (!in->string(&s, kMaxString)) return kFstDamaged;
    if (s.empty()) break;
    hmm->tag_symbols += static_cast<int32_t>(std::count(s.begin(), s.end(), '['));
    int32_t n = fst_encode(s.c_str(), static_cast<int32_t>(s.size()), coded.data(),
                           static_cast<int32_t>(coded.size()), true, false, false, hmm->clg);
    if (n <= 0) return kFstDamaged;
    int32_t count = fst_decode_symbols(coded.data(), numbers.data(), kHmmMaxClassCodes, hmm->clg);
    if (count < 0) return kFstDamaged;
    std::vector<uint16_t> codes(numbers.begin(), numbers.begin() + count);
    std::erase(codes, hmm->tagsep_number);
    std::erase(codes, hmm->end_number);
    sort_codes(&codes, hmm);
    if (codes.empty() || find_exact(hmm, codes) >= 0) return kFstDamaged;
    if (static_cast<int32_t>(hmm->entries.size()) >= nclass) return kFstNoMemory;
    uint32_t h = hmm_class_hash(codes.data(), codes.size()) % kHmmChains;
    HmmClassEntry e;
    e.next = hmm->heads[h];
    e.cls = static_cast<int32_t>(hmm->entries.size());
    e.codes = std::move(codes);
    hmm->heads[h] = e.cls;
    hmm->entries.push_back(std::move(e));
  }

  int32_t again;
  if (!in->number(&again) || again != ntag) return kFstDamaged;
  hmm->initial.resize(static_cast<size_t>(ntag));
  for (int32_t& v : hmm->initial) {
    if (!in->number(&v)) return kFstDamaged;
  }
  hmm->rows.resize(static_cast<size_t>(ntag));
  for (auto& row : hmm->rows) {
    int32_t k;
    if (!in->number(&k) || k < 0 || k > ntag) return kFstDamaged;
    row.resize(static_cast<size_t>(k));
    for (int32_t& v : row) {
      if (!in->number(&v)) return kFstDamaged;
    }
  }
  hmm->classes.resize(static_cast<size_t>(nclass));
  for (HmmClass& c : hmm->classes) {
    int32_t m;
    if (!in->number(&m) || m < 0 || m > 255 || m > width) return kFstDamaged;
    c.tags.resize(static_cast<size_t>(m));
    c.emit.resize(static_cast<size_t>(m));
    for (int32_t i = 0; i < m; ++i) {
      int32_t tag;
      if (!in->number(&tag) || !in->number(&c.emit[static_cast<size_t>(i)])) return kFstDamaged;
      if (tag < 0 || tag >= ntag) return kFstDamaged;
      if (i > 0 && tag <= c.tags[static_cast<size_t>(i) - 1]) return kFstDamaged;
      c.tags[static_cast<size_t>(i)] = static_cast<uint16_t>(tag);
    }
  }
  return 0;
}

}  // namespace

uint32_t hmm_class_hash(const uint16_t* codes, size_t count) {
  uint32_t h = 0;
  for (size_t i = 0; i < count; ++i) {
    h = h * 64 + codes[i];
    uint32_t g = h & 0xF0000000u;
    if (g != 0) {
      h ^= g >> 24;
      h &= ~g;
    }
  }
  return h;
}

int32_t hmm_check(const void* object, const Hmm** hmm) {
  if (object == nullptr) return kFstNullPointer;
  int32_t status = fst_status(object);
  if (status != 0) return status;
  auto* h = static_cast<const Hmm*>(object);
  if (h->magic != kHmmMagic) return kFstBadFsm;
  *hmm = h;
  return 0;
}

void* hmm_open(const char* path, const void* clg) {
  if (path == nullptr || clg == nullptr) return fst_error_handle(kFstNullPointer);
  const FSM* f = nullptr;
  if (fst_check(clg, &f) != 0) return fst_error_handle(kFstBadFsm);
  if ((fst_capabilities(clg) & kCapTagger) == 0) return fst_error_handle(kFstBadFunction);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fst_error_handle(kFstCannotOpen);
  auto* hmm = new (std::nothrow) Hmm;
  if (hmm == nullptr) {
    ::close(fd);
    return fst_error_handle(kFstNoMemory);
  }
  std::fill(std::begin(hmm->heads), std::end(hmm->heads), -1);
  hmm->clg = f;
  uint16_t mwt = fst_tag_code(f, "__mwt", 5);
  if (mwt != 0) hmm->mwt_number = hmm_symbol_number(mwt);
  if (f->tagsep != 0) hmm->tagsep_number = static_cast<uint16_t>(f->tagsep >> 2);
  if (f->end_symbol != 1) hmm->end_number = static_cast<uint16_t>(f->end_symbol >> 2);
  int32_t rc;
  try {
    Reader in(fd);
    rc = read_model(&in, hmm);
  } catch (const std::bad_alloc&) {
    rc = kFstNoMemory;
  }
  ::close(fd);
  if (rc != 0) {
    delete hmm;
    return fst_error_handle(rc);
  }
  return hmm;
}

void hmm_close(void* object) {
  const Hmm* h = nullptr;
  if (hmm_check(object, &h) != 0) return;
  auto* hmm = static_cast<Hmm*>(object);
  hmm->magic = 0;
  delete hmm;
}

void* HmmOpen(const char* path, const void* clg) { return hmm_open(path, clg); }
void HmmClose(void* hmm) { hmm_close(hmm); }

int32_t hmm_class_of(const Hmm* hmm, const uint16_t* codes, int32_t count) {
  if (count <= 0) return 0;
  std::vector<uint16_t> set(codes, codes + count);
  sort_codes(&set, hmm);
  if (set.empty()) return 0;
  int32_t e = find_exact(hmm, set);
  if (e >= 0) return hmm->entries[static_cast<size_t>(e)].cls;
  int32_t best_class = 0;
  bool any = false;
  int64_t best = 0;
  for (int32_t chain = 0; chain < kHmmChains; ++chain) {
    for (int32_t k = hmm->heads[chain]; k >= 0; k = hmm->entries[static_cast<size_t>(k)].next) {
      const std::vector<uint16_t>& cls = hmm->entries[static_cast<size_t>(k)].codes;
      int64_t score = 0;
      size_t i = 0, j = 0;
      while (i < cls.size() && j < set.size()) {
        if (cls[i] == set[j]) {
          score += 4;
          ++i;
          ++j;
        } else if (cls[i] < set[j]) {
          score -= 2;
          ++i;
        } else {
          score -= 3;
          ++j;
        }
      }
      score -= 2 * static_cast<int64_t>(cls.size() - i) + 3 * static_cast<int64_t>(set.size() - j);
      if (!any || score > best) {
        any = true;
        best = score;
        best_class = hmm->entries[static_cast<size_t>(k)].cls;
      }
    }
  }
  return best_class;
}

}  // namespace vorlane
