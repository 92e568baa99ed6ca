#include "tools/zop/english_stems.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace vorlane::zopw {
namespace {

enum Pos { kNoun = 0, kVerb = 1, kAdj = 2, kAdv = 3 };

// How a surface relates to a stem.
enum Kind { kLemma, kIrregular, kRegular, kComparative };

struct Reading {
  std::string stem;
  int pos;
  Kind kind;
};

bool vowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }
bool letter(char c) { return c >= 'a' && c <= 'z'; }
bool ends(const std::string& w, const char* s) {
  const std::string suffix(s);
  return w.size() >= suffix.size() && w.compare(w.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A final consonant-vowel-consonant that doubles before a vowel ending
// (stop, stopped; big, bigger). Longer words double too in some spellings
// (travelled, equipped), so every such word offers the doubled form.
bool doubles(const std::string& w) {
  if (w.size() < 3) return false;
  const char c = w.back(), v = w[w.size() - 2], p = w[w.size() - 3];
  return letter(c) && !vowel(c) && c != 'w' && c != 'x' && c != 'y' && vowel(v) && letter(p) && !vowel(p) &&
         !(p == 'q');
}

// Vowel groups: a word of one doubles its last consonant before a vowel
// ending always (stop, stopped), longer words only in some spellings.
int syllables(const std::string& w) {
  int n = 0;
  for (size_t i = 0; i < w.size(); ++i) {
    if (vowel(w[i]) && (i == 0 || !vowel(w[i - 1]))) ++n;
  }
  return n;
}

bool consonant_y(const std::string& w) {
  return w.size() >= 2 && w.back() == 'y' && letter(w[w.size() - 2]) && !vowel(w[w.size() - 2]);
}

std::vector<std::string> s_forms(const std::string& w, bool noun) {
  std::vector<std::string> out;
  if (ends(w, "s") || ends(w, "x") || ends(w, "z") || ends(w, "ch") || ends(w, "sh")) {
    out.push_back(w + "es");
  } else if (consonant_y(w)) {
    out.push_back(w.substr(0, w.size() - 1) + "ies");
  } else if (ends(w, "o")) {
    out.push_back(w + "s");
    out.push_back(w + "es");
  } else {
    out.push_back(w + "s");
  }
  if (noun && w.size() > 3 && ends(w, "man")) out.push_back(w.substr(0, w.size() - 3) + "men");
  return out;
}

std::vector<std::string> verb_forms(const std::string& w) {
  std::vector<std::string> out = s_forms(w, false);
  const bool always_doubled = doubles(w) && syllables(w) == 1;
  if (ends(w, "e")) {
    out.push_back(w + "d");
  } else if (consonant_y(w)) {
    out.push_back(w.substr(0, w.size() - 1) + "ied");
  } else if (!always_doubled) {
    out.push_back(w + "ed");
  }
  if (ends(w, "ie")) {
    out.push_back(w.substr(0, w.size() - 2) + "ying");
  } else if (ends(w, "e") && !ends(w, "ee") && !ends(w, "oe") && !ends(w, "ye") && w.size() > 2) {
    out.push_back(w.substr(0, w.size() - 1) + "ing");
  } else if (!always_doubled) {
    out.push_back(w + "ing");
  }
  if (doubles(w)) {
    out.push_back(w + w.back() + "ed");
    out.push_back(w + w.back() + "ing");
  }
  return out;
}

std::vector<std::string> comparative_forms(const std::string& w) {
  std::vector<std::string> out;
  if (w.find('-') != std::string::npos) return out;
  if (ends(w, "e")) {
    out = {w + "r", w + "st"};
  } else if (consonant_y(w)) {
    const std::string b = w.substr(0, w.size() - 1);
    out = {b + "ier", b + "iest"};
  } else {
    if (!doubles(w) || syllables(w) > 1) out = {w + "er", w + "est"};
    if (doubles(w)) {
      out.push_back(w + w.back() + "er");
      out.push_back(w + w.back() + "est");
    }
  }
  return out;
}

bool surface_word(const std::string& w) {
  if (w.empty()) return false;
  for (unsigned char c : w) {
    if (!((c >= 'a' && c <= 'z') || c == '-' || c == '\'' || c >= 0xC0)) return false;
  }
  return true;
}

}  // namespace

bool read_sense_counts(const std::string& path, StemSources* sources) {
  std::ifstream f(path);
  if (!f) return false;
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string key;
    int sense = 0, count = 0;
    if (!(in >> key >> sense >> count)) continue;
    const size_t pct = key.find('%');
    if (pct == std::string::npos || pct + 1 >= key.size()) continue;
    int pos;
    switch (key[pct + 1]) {
      case '1': pos = kNoun; break;
      case '2': pos = kVerb; break;
      case '3':
      case '5': pos = kAdj; break;
      case '4': pos = kAdv; break;
      default: continue;
    }
    sources->counts[key.substr(0, pct)][pos] += count;
  }
  return true;
}

std::map<std::string, std::set<std::string>> build_stems(const StemSources& src) {
  // Tagged senses of a lemma in one part of speech, or in all (pos < 0).
  auto count = [&src](const std::string& lemma, int pos) {
    auto it = src.counts.find(lemma);
    if (it == src.counts.end()) return 0;
    if (pos < 0) return it->second[0] + it->second[1] + it->second[2] + it->second[3];
    return it->second[pos];
  };
  auto count_of = count;
  std::unordered_map<std::string, std::vector<Reading>> readings;
  auto add = [&readings](const std::string& surface, const std::string& stem, int pos, Kind kind) {
    if (surface_word(surface) && surface_word(stem)) readings[surface].push_back({stem, pos, kind});
  };
  auto is_lemma = [&src](const std::string& w) {
    for (const auto& set : src.lemmas) {
      if (set.count(w)) return true;
    }
    return false;
  };
  for (int pos = 0; pos < 4; ++pos) {
    for (const std::string& lemma : src.lemmas[pos]) {
      add(lemma, lemma, pos, kLemma);
      if (pos == kNoun) {
        for (const std::string& f : s_forms(lemma, true)) add(f, lemma, pos, kRegular);
      } else if (pos == kVerb) {
        for (const std::string& f : verb_forms(lemma)) add(f, lemma, pos, kRegular);
      } else if (pos == kAdj) {
        for (const std::string& f : comparative_forms(lemma)) add(f, lemma, pos, kComparative);
      }
    }
  }
  // Irregular forms; an adverb's entry stands only for a form that is not an
  // adjective's too ("better" is "good" rather than "well").
  for (int pos = 0; pos < 4; ++pos) {
    for (const auto& [form, bases] : src.exceptions[pos]) {
      if (pos == kAdv && src.exceptions[kAdj].count(form)) continue;
      // Of several bases, the ones near the commonest (better: good, not
      // the rarer adjective well).
      int most = 0;
      for (const std::string& b : bases) most = std::max(most, count_of(b, pos));
      for (const std::string& b : bases) {
        if ((count_of(b, pos) + 0.5) * 4 >= most + 0.5) add(form, b, pos, kIrregular);
      }
    }
  }
  // Words of the word list that WordNet lacks (keyword, keywords): their
  // regular forms that the list holds too.
  for (const std::string& w : src.words) {
    if (is_lemma(w) || readings.count(w) || !surface_word(w)) continue;
    bool used = false;
    std::vector<std::string> forms = s_forms(w, true);
    for (const std::string& f : verb_forms(w)) forms.push_back(f);
    for (const std::string& f : forms) {
      if (f != w && src.words.count(f) && !readings.count(f)) {
        readings[f].push_back({w, kNoun, kRegular});
        used = true;
      }
    }
    if (used) readings[w].push_back({w, kNoun, kLemma});
  }
  // Abbreviations and acronyms are stems of their own; a plural relates to
  // its abbreviation when it has four letters or more or the word list
  // holds it (apis, api; pcs, pc), also where it is a lemma of its own. One
  // that ends in s (GPS, CSS) gets no plural.
  for (const std::string& a : src.acronyms) {
    if (!surface_word(a)) continue;
    readings[a].push_back({a, kNoun, kLemma});
    const std::string plural = a + "s";
    if (a.back() != 's' && (plural.size() >= 4 || src.acronym_plurals.count(plural))) {
      readings[plural].push_back({a, kNoun, kRegular});
    }
  }

  std::map<std::string, std::set<std::string>> result;
  for (auto& [surface, list] : readings) {
    // A word of three letters or fewer keeps its own form: a regular ending
    // relates it only when it is no word of its own and the other word has
    // two letters or more and is no function word (ads, ad; not os, o; its,
    // it; bed, be). The exception lists' forms stay (is, be; men, man).
    if (surface.size() <= 3) {
      const bool own = is_lemma(surface) || src.acronyms.count(surface) || src.function_words.count(surface);
      std::erase_if(list, [&](const Reading& r) {
        if ((r.kind != kRegular && r.kind != kComparative) || r.stem == surface) return false;
        return own || r.stem.size() < 2 || src.function_words.count(r.stem) > 0;
      });
      if (list.empty()) list.push_back({surface, kNoun, kLemma});
    }
    // Weight of each stem: its most frequent reading.
    std::map<std::string, double> weight;
    std::map<std::string, bool> only_comparative;
    // A verb's irregular form used as an adjective (frozen, torn) is that
    // verb's form: the adjective's counts do not weigh its own reading.
    const bool irregular_verb = src.exceptions[kVerb].count(surface) > 0;
    bool irregular = false;
    for (const Reading& r : list) irregular = irregular || r.kind == kIrregular;
    for (const Reading& r : list) {
      double w = (r.kind == kLemma ? count(surface, -1) : count(r.stem, r.pos)) + 0.5;
      if (r.kind == kLemma && irregular_verb) w -= count(surface, kAdj);
      auto [it, fresh] = weight.emplace(r.stem, w);
      if (!fresh && w > it->second) it->second = w;
      auto [ct, cfresh] = only_comparative.emplace(r.stem, r.kind == kComparative);
      if (!cfresh) ct->second = ct->second && r.kind == kComparative;
    }
    const bool noun_or_verb = src.lemmas[kNoun].count(surface) || src.lemmas[kVerb].count(surface);
    const int noun_verb_count = count(surface, kNoun) + count(surface, kVerb);
    std::set<std::string> kept;
    double best = 0;
    for (const auto& [stem, w] : weight) best = std::max(best, w);
    for (const auto& [stem, w] : weight) {
      // A comparative reading of a noun or a verb (buffer, number, offer)
      // only where the adjective is the commoner word (lower, longer).
      if (only_comparative[stem] && noun_or_verb && count(stem, kAdj) <= noun_verb_count) continue;
      // A spelling variant with a doubled last letter (instal, install):
      // the commoner one.
      if (auto d = weight.find(stem + stem.back()); d != weight.end() && d->second > w) continue;
      if (!stem.empty() && stem.size() > 1 && stem.back() == stem[stem.size() - 2]) {
        if (auto d = weight.find(stem.substr(0, stem.size() - 1)); d != weight.end() && d->second > w) continue;
      }
      // A reading far rarer than the word's commonest one; a word of the
      // exception lists is mainly that inflected form (bent, rose), so its
      // own reading must come nearer to it.
      if (w * (stem == surface && irregular ? 8 : 25) < best) continue;
      kept.insert(stem);
    }
    if (!kept.empty()) result[surface] = std::move(kept);
  }
  return result;
}

}  // namespace vorlane::zopw

namespace vorlane::zopw {
namespace {

// The regular ending of a word's last letters, for a word outside the
// lexicon. Letters are read from the end through at(); asking for one
// before the tail's start marks the tail too short, so that the caller
// tries it with each letter in front.
class GuessTail {
 public:
  explicit GuessTail(const std::string& tail) : tail_(tail) {}

  // The stem's end for the tail, or false when the tail has no reading.
  bool decide(std::string* stem) {
    if (at(0) == 's') return plural(stem);
    if (at(0) == 'd' && at(1) == 'e') return past(stem);
    if (at(0) == 'g' && at(1) == 'n' && at(2) == 'i') return participle(stem);
    // Comparatives only of adjectives in -y (hackier, flakiest); other
    // words in -er are mostly nouns of their own (parser, debugger).
    if (at(0) == 'r' && at(1) == 'e' && at(2) == 'i' && consonant(at(3)) && at(3) != 'f') return cut(3, "y", stem);
    if (at(0) == 't' && at(1) == 's' && at(2) == 'e' && at(3) == 'i' && consonant(at(4))) return cut(4, "y", stem);
    return false;
  }
  bool short_tail() const { return short_; }

 private:
  char at(size_t k) {
    if (k >= tail_.size()) {
      short_ = true;
      return 0;
    }
    return tail_[tail_.size() - 1 - k];
  }
  static bool letter(char c) { return c >= 'a' && c <= 'z'; }
  static bool vowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }
  static bool consonant(char c) { return letter(c) && !vowel(c); }
  bool cut(size_t n, const char* add, std::string* stem) {
    if (short_) return false;
    *stem = tail_.substr(0, tail_.size() - n) + add;
    return true;
  }

  // Plural and third person: -s, -es after a sibilant, -ies after a
  // consonant; none for -ss, -us, -is (class, status, axis).
  bool plural(std::string* stem) {
    const char c1 = at(1);
    if (!letter(c1) || c1 == 's' || c1 == 'u' || c1 == 'i') return false;
    if (c1 != 'e') return cut(1, "", stem);
    switch (at(2)) {
      case 'i': return consonant(at(3)) ? cut(3, "y", stem) : cut(1, "", stem);
      case 'x': return cut(2, "", stem);
      case 's':
        switch (at(3)) {
          case 's': return cut(2, "", stem);                             // classes
          case 'a': return at(4) == 'i' ? cut(2, "", stem) : cut(1, "", stem);  // biases, databases
          case 'u': {
            const char c4 = at(4);  // statuses, bonuses; causes, fuses
            return (c4 == 't' || c4 == 'r' || c4 == 'n' || c4 == 'b' || c4 == 'p') ? cut(2, "", stem)
                                                                                 : cut(1, "", stem);
          }
          default: return cut(1, "", stem);
        }
      case 'h': {
        const char c3 = at(3);  // patches, flushes; headaches
        return (c3 == 'c' || c3 == 's') ? cut(2, "", stem) : cut(1, "", stem);
      }
      case 'z': return at(3) == 'z' ? cut(2, "", stem) : cut(1, "", stem);
      default: return letter(at(2)) ? cut(1, "", stem) : false;
    }
  }

  bool past(std::string* stem) {
    const char c2 = at(2);
    if (!letter(c2)) return false;
    if (c2 == 'e') return cut(1, "", stem);  // freed
    if (c2 == 'i') return consonant(at(3)) ? cut(3, "y", stem) : false;
    if (c2 == 'a' || c2 == 'o') return cut(2, "", stem);  // radioed, echoed
    return base(2, stem);
  }

  bool participle(std::string* stem) {
    const char c3 = at(3);
    if (!letter(c3)) return false;
    if (c3 == 'e' || c3 == 'y' || c3 == 'i' || c3 == 'a' || c3 == 'o') return cut(3, "", stem);
    return base(3, stem);
  }

  // The base before -ed or -ing (the last k letters): a doubled final
  // consonant undone (debugged), a silent e put back (unpickled, deprecated,
  // serialized), else the letters as they are (refactored).
  bool base(size_t k, std::string* stem) {
    const char a = at(k), b = at(k + 1);
    // Compounds of string and thing (docstring, bytestring) are no -ing
    // forms.
    if ((a == 'r' && b == 't' && at(k + 2) == 's') || (a == 'h' && b == 't')) return false;
    auto keep = [&] { return cut(k, "", stem); };
    auto silent_e = [&] { return cut(k, "e", stem); };
    if (a == b && consonant(a)) {
      const bool undo = a == 'b' || a == 'd' || a == 'g' || a == 'k' || a == 'm' || a == 'n' || a == 'p' ||
                        a == 'r' || a == 't';
      return undo ? cut(k + 1, "", stem) : keep();
    }
    switch (a) {
      case 'u':
      case 'v':
      case 'z': return silent_e();
      case 'c': return (b == 'n' && at(k + 2) == 'y') ? keep() : silent_e();  // synced; referenced
      case 'l':
        if (consonant(b)) return (b == 'r' || b == 'w') ? keep() : silent_e();  // curled; bundled
        if (b == 'i' || b == 'o' || b == 'u') return consonant(at(k + 2)) ? silent_e() : keep();  // compiled; failed
        if (b == 'a') return at(k + 2) == 'c' ? silent_e() : keep();  // scaled; signaled
        return keep();                                              // labeled
      case 't': {
        const char c = at(k + 2);
        if (b == 'a') return consonant(c) ? silent_e() : keep();  // validated; heated
        if (b == 'e') return c == 'l' ? silent_e() : keep();      // deleted; targeted
        if (b == 'o') return consonant(c) ? silent_e() : keep();  // quoted; booted
        if (b == 'u') return consonant(c) ? silent_e() : keep();  // computed; shouted
        return keep();
      }
      case 'd': return (vowel(b) && b != 'e' && consonant(at(k + 2))) ? silent_e() : keep();  // decoded; loaded
      case 'r': {
        const char c = at(k + 2);
        if (b == 'a' || b == 'u') return consonant(c) ? silent_e() : keep();  // declared, secured; cleared
        if (b == 'i') return (c == 'u' || consonant(c)) ? silent_e() : keep();  // required, fired; paired
        return keep();                                                          // filtered, mirrored
      }
      case 's':
        if (b == 'a') return at(k + 2) == 'i' ? keep() : silent_e();  // aliased; rebased, released
        if (b == 'u') return at(k + 2) == 'c' ? keep() : silent_e();  // focused; caused
        return letter(b) ? silent_e() : keep();                      // parsed, closed, promised
      case 'g':
        if (vowel(b)) return silent_e();                                            // staged
        if (b == 'd' || b == 'r' || b == 'l') return silent_e();                    // judged, merged
        if (b == 'n') return (at(k + 2) == 'a' || at(k + 2) == 'e') ? silent_e() : keep();  // changed; pinged
        return keep();
      case 'k':
      case 'm':
      case 'b': return (vowel(b) && consonant(at(k + 2))) ? silent_e() : keep();  // invoked, renamed, probed
      case 'n':
        if (b == 'e') return keep();                                     // opened
        if (b == 'o' && at(k + 2) == 'i') return keep();                 // versioned
        return (vowel(b) && consonant(at(k + 2))) ? silent_e() : keep();  // inlined, cloned; joined
      case 'p':
        if ((vowel(b) || b == 'y') && consonant(at(k + 2))) {
          return (b == 'o' && at(k + 2) == 'l') ? keep() : silent_e();  // developed; piped, typed
        }
        return keep();
      default: return keep();
    }
  }

  const std::string& tail_;
  bool short_ = false;
};

// An ending of fewer than three letters (the plural -s after a letter) is
// written once for each character that may stand before it, so that the
// guesser leaves the words of three letters or fewer as they are (sys).
void guess_tails(const std::string& tail, const std::string& before,
                 std::vector<std::pair<std::string, std::string>>* out) {
  GuessTail g(tail);
  std::string stem;
  const bool found = g.decide(&stem);
  if (!g.short_tail()) {
    if (!found) return;
    if (tail.size() >= 3) {
      out->emplace_back(tail, stem);
    } else {
      for (char c : before) out->emplace_back(c + tail, c + stem);
    }
    return;
  }
  if (tail.size() >= 8) return;
  for (char c = 'a'; c <= 'z'; ++c) guess_tails(std::string(1, c) + tail, before, out);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> english_guess_endings(const std::string& letters) {
  std::vector<std::pair<std::string, std::string>> out;
  guess_tails("", letters, &out);
  return out;
}

}  // namespace vorlane::zopw
