#include "linguistics/fst/dictionary.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "linguistics/fst/fst_errors.h"

namespace vorlane {

namespace {

constexpr uint32_t kDictMagic = 0x44494331;  // "DIC1"

// An entry: the word and the analysis follow it in the same block.
struct DictEntry {
  DictEntry* next;
  const char* word;
  const char* analysis;
  size_t stem_length;  // bytes before the analysis's first '['
};

struct Dictionary {
  uint32_t magic = kDictMagic;
  DictEntry* chains[kDictChains] = {};
  int32_t chain_count = kDictChains;
  int32_t entries = 0;
};

// -28, -6 or 0 with the dictionary.
int32_t check(const void* object, const Dictionary** dict) {
  if (object == nullptr) return kFstNullPointer;
  if (fst_status(object) != 0) return kFstBadDictionary;
  uint32_t magic;
  std::memcpy(&magic, object, sizeof magic);
  if (magic != kDictMagic) return kFstBadDictionary;
  *dict = static_cast<const Dictionary*>(object);
  return 0;
}

// Writes n bytes and keeps room for the NUL: false when they do not fit.
bool put(char* output, int32_t size, int32_t* used, const char* text, size_t n) {
  if (static_cast<int64_t>(*used) + static_cast<int64_t>(n) >= size) return false;
  std::memcpy(output + *used, text, n);
  *used += static_cast<int32_t>(n);
  return true;
}

// Reads one line (without its end) into line; false at the end of the file.
// A line longer than the limit keeps its first bytes.
bool read_line(std::FILE* f, char* line, size_t limit, size_t* length) {
  size_t n = 0;
  int c;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (n < limit) line[n++] = static_cast<char>(c);
  }
  *length = n;
  return any;
}

}  // namespace

uint32_t dict_hash(const char* word) {
  uint32_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(word); *p; ++p) {
    h = (h << 4) + *p;
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h = (h ^ (g >> 24)) & ~g;
  }
  return h % kDictChains;
}

void* dict_create(int32_t, int32_t) {
  Dictionary* dict = new (std::nothrow) Dictionary;
  return dict ? dict : fst_error_handle(kFstNoMemory);
}

void dict_free(void* object) {
  const Dictionary* dict;
  if (check(object, &dict) != 0) return;
  Dictionary* d = const_cast<Dictionary*>(dict);
  for (DictEntry* head : d->chains) {
    while (head != nullptr) {
      DictEntry* next = head->next;
      std::free(head);
      head = next;
    }
  }
  delete d;
}

int32_t dict_add(const char* word, const char* analysis, int32_t, void* object) {
  if (word == nullptr || analysis == nullptr) return kFstNullPointer;
  const Dictionary* dict;
  int32_t rc = check(object, &dict);
  if (rc != 0) return rc;
  Dictionary* d = const_cast<Dictionary*>(dict);
  size_t wn = std::strlen(word), an = std::strlen(analysis);
  auto* e = static_cast<DictEntry*>(std::malloc(sizeof(DictEntry) + wn + an + 2));
  if (e == nullptr) return kFstNoMemory;
  char* text = reinterpret_cast<char*>(e + 1);
  std::memcpy(text, word, wn + 1);
  std::memcpy(text + wn + 1, analysis, an + 1);
  e->word = text;
  e->analysis = text + wn + 1;
  const char* bracket = std::strchr(e->analysis, '[');
  e->stem_length = bracket ? static_cast<size_t>(bracket - e->analysis) : an;
  uint32_t chain = dict_hash(word);
  e->next = d->chains[chain];
  d->chains[chain] = e;
  ++d->entries;
  return 0;
}

int32_t dict_load(const char* path, int32_t, void* object) {
  if (path == nullptr) return kFstNullPointer;
  const Dictionary* dict;
  int32_t rc = check(object, &dict);
  if (rc != 0) return rc;
  char* line = static_cast<char*>(std::malloc(kDictLineLimit + 1));
  if (line == nullptr) return kFstNoMemory;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::free(line);
    return kFstCannotOpen;
  }
  char* tag = nullptr;
  int32_t added = 0;
  size_t n;
  while (rc == 0 && read_line(f, line, kDictLineLimit, &n)) {
    line[n] = '\0';
    n = std::strcspn(line, "\r\n");
    line[n] = '\0';
    if (static_cast<unsigned char>(line[0]) < 33 || line[0] == ';') continue;
    char* first_tab = std::strchr(line, '\t');
    if (first_tab != nullptr) {
      char* second = std::strrchr(line, '\t') + 1;
      *first_tab = '\0';
      std::free(tag);
      tag = nullptr;
      rc = dict_add(line, second, 0, object);
      added += rc == 0;
    } else if (line[0] == '[' && line[n - 1] == ']') {
      std::free(tag);
      tag = static_cast<char*>(std::malloc(n + 1));
      if (tag == nullptr) {
        rc = kFstNoMemory;
      } else {
        std::memcpy(tag, line, n + 1);
      }
    } else if (tag == nullptr) {
      rc = kFstSingleFieldEntry;
    } else {
      rc = dict_add(line, tag, 0, object);
      added += rc == 0;
    }
  }
  if (rc == 0 && std::ferror(f)) rc = kFstIoError;
  std::fclose(f);
  std::free(line);
  std::free(tag);
  return rc != 0 ? rc : added;
}

int32_t dict_lookup(const char* word, const char* tag_filter, char* output, int32_t size, int32_t flags, int32_t,
                    const void* object) {
  if (word == nullptr || object == nullptr) return kFstNullPointer;
  const Dictionary* dict;
  int32_t rc = check(object, &dict);
  if (rc != 0) return rc;
  if (size < 0 || flags < 0) return kFstBadNumber;
  if ((flags & kDictFilterTag) && tag_filter == nullptr) return kFstNullPointer;
  bool write = (flags & (kDictStem | kDictTags)) != 0;
  if (write && output == nullptr) return kFstNullPointer;
  // Most handles carry an empty client dictionary: nothing to hash.
  if (dict->entries == 0) return 0;
  int32_t matches = 0;
  int32_t used = 0;
  for (const DictEntry* e = dict->chains[dict_hash(word)]; e != nullptr; e = e->next) {
    if (std::strcmp(e->word, word) != 0) continue;
    const char* tags = e->analysis + e->stem_length;
    if ((flags & kDictFilterTag) && std::strcmp(tags, tag_filter) != 0) continue;
    if (write) {
      if ((flags & kDictStem) && !put(output, size, &used, e->analysis, e->stem_length)) return kFstTooLong;
      if ((flags & kDictTags) && !put(output, size, &used, tags, std::strlen(tags))) return kFstTooLong;
      output[used++] = '\0';
    }
    ++matches;
  }
  return matches;
}

}  // namespace vorlane
