#include "linguistics/zop/resource_set.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/zop/grouper.h"
#include "linguistics/zop/hmm_model.h"
#include "linguistics/zop/tagger.h"
#include "linguistics/zop/tokenizer.h"
#include "store/log.h"

namespace vorlane {

namespace {

zop_struct g_sets[MAX_ZOP];
sthread_mutex g_mutex[MAX_ZOP];
bool g_fst_ready = false;

void release(zop_struct* set) {
  tokenizer_free(set->tokenizer);
  grouper_free(set->grouper);
  hmm_close(set->hmm);
  dict_free(set->dictionary);
  FstClose(set->tokenizer_fsm);
  fst_close(set->grouper_fsm);
  fst_close(set->tagger_clg);
  fst_close(set->lexicon_fsm);
  fst_close(set->stemmer_fsm);
  *set = zop_struct{};
}

// The integer value of leading digits, 0 when there are none.
int32_t leading_number(const char* s) {
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(v);
}

}  // namespace

void zop_report_error(const char* label, int32_t code) {
  char text[128];
  fst_error_message(code, text, sizeof text);
  log_msg(LOG_WARNING, "%s: %s", label, text);
}

int zop_load_resources(zop_handle* out, zop_struct* set, const char* path) {
  if (set == nullptr || path == nullptr) return 0;
  const std::string given = path;
  const size_t cut = given.find_last_of("/\\");
  if (cut == std::string::npos || given.size() >= kZopPathSize) return 0;
  std::string base = given.substr(cut + 1);
  std::string work = given;
  if (base == "german2" || base == "germans1") {
    base = "german";
    work = given.substr(0, cut + 1) + base;
  }
  zop_struct s;
  auto fail = [&]() {
    release(&s);
    return 0;
  };

  s.tokenizer_fsm = FstOpen((work + ".tok").c_str());
  s.tokenizer = tokenizer_create(s.tokenizer_fsm, 0, nullptr);
  if (int32_t rc = fst_status(s.tokenizer); rc != 0) {
    s.tokenizer = nullptr;
    zop_report_error("tokenizer", rc);
    return fail();
  }
  s.grouper_fsm = fst_open((work + ".npr").c_str());
  s.grouper = grouper_create(s.grouper_fsm);
  if (fst_status(s.grouper) != 0) s.grouper = nullptr;  // group_phrases reports it later

  s.lexicon_fsm = fst_open((work + ".clg").c_str());
  if (int32_t rc = fst_status(s.lexicon_fsm); rc != 0) {
    s.lexicon_fsm = nullptr;
    zop_report_error("lexicon", rc);
    return fail();
  }

  const char* stemmer = std::getenv("STEMMER");
  s.stemmer_fsm = fst_open(stemmer != nullptr ? stemmer : (given + ".is").c_str());
  if (fst_status(s.stemmer_fsm) != 0) s.stemmer_fsm = fst_open((work + ".ds").c_str());
  if (int32_t rc = fst_status(s.stemmer_fsm); rc != 0) {
    s.stemmer_fsm = nullptr;
    zop_report_error("stemmer", rc);
    return fail();
  }

  void* dict = dict_create(0, 0);
  if (int32_t rc = fst_status(dict); rc != 0) {
    zop_report_error("user dictionary", rc);
  } else {
    const std::string usr = work + ".usr";
    int32_t rc2 = dict_load(usr.c_str(), 0, dict);
    if (rc2 < 0) {
      zop_report_error(usr.c_str(), rc2);
      dict_free(dict);
    } else {
      s.dictionary = dict;
    }
  }

  const char* option = std::getenv("STEMOPT");
  s.handle.stemmer = s.stemmer_fsm;
  s.handle.dictionary = s.dictionary;
  s.handle.stem_option = option != nullptr ? leading_number(option) : 3;
  std::strncpy(s.handle.name, base.c_str(), sizeof s.handle.name - 1);
  if (s.handle.stem_option != 3 && s.handle.stem_option != 5 && s.handle.stem_option != 7) {
    log_msg(LOG_WARNING, "illegal stem option %d\n", s.handle.stem_option);
    return fail();
  }

  s.tagger_clg = fst_open((work + ".clg").c_str());
  s.hmm = hmm_open((work + ".hmm").c_str(), s.tagger_clg);
  if (int32_t rc = fst_status(s.hmm); rc != 0) {
    s.hmm = nullptr;
    zop_report_error("tagger", rc);
    return fail();
  }
  std::memcpy(s.path, work.c_str(), work.size() + 1);
  std::memcpy(s.key, given.c_str(), given.size() + 1);
  if (out != nullptr) *out = s.handle;
  *set = s;
  return 1;
}

int zop_lang_init(zop_handle* out, const char* path) {
  if (path == nullptr) return 0;
  if (!g_fst_ready) {
    if (fst_init() < 0) return 0;
    g_fst_ready = true;
  }
  for (int32_t i = 0; i < MAX_ZOP; ++i) {
    zop_struct& set = g_sets[i];
    if (set.key[0] == 0) {
      if (!zop_load_resources(nullptr, &set, path)) return 0;
      set.slot = i;
      sthread_mutex_init(&g_mutex[i], nullptr);
    } else if (std::strcmp(set.key, path) != 0) {
      continue;
    }
    if (out != nullptr) *out = set.handle;
    return 1;
  }
  return 0;
}

zop_struct* zop_local_init(zop_handle handle, zop_struct* copy) {
  if (handle.stemmer == nullptr) return nullptr;
  const zop_struct* set = nullptr;
  for (const zop_struct& s : g_sets) {
    if (s.key[0] != 0 && s.stemmer_fsm == handle.stemmer) {
      set = &s;
      break;
    }
  }
  if (set == nullptr) return nullptr;
  zop_struct* target = copy;
  if (target == nullptr) {
    target = new (std::nothrow) zop_struct;
    if (target == nullptr) return nullptr;
  }
  *target = *set;
  target->free_me = copy == nullptr ? 1 : 0;
  void* buffer = tagger_buffer_create_titled(kZopTaggerTokens, kZopTaggerChars, set->hmm);
  if (int32_t rc = fst_status(buffer); rc != 0) {
    zop_report_error("tagger_buffer", rc);
    if (copy == nullptr) delete target;
    return nullptr;
  }
  target->tagger_buffer = buffer;
  return target;
}

int zop_local_free(zop_struct* copy) {
  if (copy == nullptr) return 0;
  tagger_buffer_free_titled(copy->tagger_buffer);
  copy->tagger_buffer = nullptr;
  if (copy->free_me) delete copy;
  return 1;
}

char* zop_get_phrases(const char* text, char* out, size_t out_size, zop_handle handle) {
  if (text == nullptr || out == nullptr) return out;
  zop_struct work;
  if (zop_local_init(handle, &work) == nullptr) {
    log_msg(LOG_WARNING, "Could not initialize local zop struct.\n");
    return out;
  }
  sthread_mutex* mutex = &g_mutex[work.slot];
  sthread_mutex_lock(mutex);
  char* end = out;
  try {
    // Tokens of the whole text, at most 2,048.
    const int32_t length = static_cast<int32_t>(std::min<size_t>(std::strlen(text), INT32_MAX));
    std::vector<TokenRecord> records(kZopMaxTokens);
    std::vector<char> scratch(2048);
    int32_t total = 0, pos = 0;
    while (pos < length && total < kZopMaxTokens) {
      int32_t count = 0;
      int32_t used = tokenize_text(text + pos, length - pos, work.tokenizer, kTokenizeComplete,
                                   records.data() + total, kZopMaxTokens - total, scratch.data(),
                                   static_cast<int32_t>(scratch.size()), &count);
      if (used < 1 || count < 1) break;
      for (int32_t k = 0; k < count; ++k) records[static_cast<size_t>(total + k)].offset += pos;
      total += count;
      pos += used;
    }
    // The token texts, each ended by NUL.
    std::string texts;
    std::vector<size_t> starts;
    for (int32_t k = 0; k < total; ++k) {
      starts.push_back(texts.size());
      texts.append(text + records[static_cast<size_t>(k)].offset,
                   static_cast<size_t>(records[static_cast<size_t>(k)].length));
      texts.push_back('\0');
    }
    std::vector<char> tags(kZopTagArea);
    std::vector<PhraseGroup> groups(kZopMaxGroups);
    char names[1024];
    int32_t ngroups = 0;
    if (total > 0 && tag_sentence(texts.data(), total, tags.data(), kZopTagArea - 1, kTagOrdinaryCase, work.hmm,
                                  work.tagger_buffer, nullptr, nullptr) == total) {
      ngroups = group_phrases(tags.data(), total, 0, groups.data(), kZopMaxGroups, names, sizeof names,
                              work.grouper != nullptr ? work.grouper : fst_error_handle(kFstBadFsm));
      if (ngroups < 0) {
        char message[1024];
        fst_error_message(ngroups, message, sizeof message);
        log_msg(LOG_WARNING, "Error: %s\n", message);
        ngroups = 0;
      }
    }
    const char* limit = out + out_size;
    for (int32_t g = 0; g < ngroups; ++g) {
      const PhraseGroup& group = groups[static_cast<size_t>(g)];
      if (group.count <= 0 || group.first < 0 || group.first + group.count > total) continue;
      std::string phrase;
      for (int32_t k = group.first; k < group.first + group.count; ++k) {
        const char* token = texts.data() + starts[static_cast<size_t>(k)];
        if (std::strcmp(token, "'s") == 0 && !phrase.empty()) phrase.pop_back();
        phrase += token;
        phrase += ' ';
      }
      phrase.back() = '\0';
      if (phrase.size() > static_cast<size_t>(limit - end)) break;
      std::memcpy(end, phrase.data(), phrase.size());
      end += phrase.size();
    }
  } catch (const std::bad_alloc&) {
    log_msg(LOG_WARNING, "Error: %s\n", fst_error_text(kFstNoMemory));
  }
  sthread_mutex_unlock(mutex);
  // The working copy lives on this stack: only its tagger buffer is freed.
  tagger_buffer_free_titled(work.tagger_buffer);
  return end;
}

int zop_set_user1(zop_struct* set, intptr_t value) {
  if (set == nullptr) return 0;
  set->user1 = value;
  return 1;
}
int zop_set_user2(zop_struct* set, intptr_t value) {
  if (set == nullptr) return 0;
  set->user2 = value;
  return 1;
}
intptr_t zop_get_user1(const zop_struct* set) { return set == nullptr ? 0 : set->user1; }
intptr_t zop_get_user2(const zop_struct* set) { return set == nullptr ? 0 : set->user2; }

int32_t zop_slots_used() {
  int32_t n = 0;
  for (const zop_struct& s : g_sets) n += s.key[0] != 0;
  return n;
}

}  // namespace vorlane
