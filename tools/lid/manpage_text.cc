#include "tools/lid/manpage_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unordered_set>
#include <zlib.h>

namespace vorlane::tools {

namespace {

// ---- UTF-8 ----

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_japanese(char32_t c) {
  return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF);
}
bool is_letter(char32_t c) {
  return is_ascii_letter(c) || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || is_japanese(c);
}
bool is_space(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0 || c == 0x3000; }

// ---- roff ----

struct SpecialChar {
  const char* name;
  const char* text;
};

// Special characters a page may name (\(xx, \[xx], \*(xx); the others are
// dropped.
constexpr SpecialChar kSpecialChars[] = {
    {"em", "-"},  {"en", "-"},  {"hy", "-"},  {"mi", "-"},  {"aq", "'"},  {"dq", "\""}, {"lq", "\""},
    {"rq", "\""}, {"oq", "'"},  {"cq", "'"},  {"Fo", "«"},  {"Fc", "»"},  {"co", "©"},  {"rg", "®"},
    {"pl", "+"},  {"eq", "="},  {"ti", "~"},  {"ha", "^"},  {"rs", "\\"}, {"sl", "/"},  {"ss", "ß"},
    {"'e", "é"},  {"'a", "á"},  {"'i", "í"},  {"'o", "ó"},  {"'u", "ú"},  {"`e", "è"},  {"`a", "à"},
    {":a", "ä"},  {":o", "ö"},  {":u", "ü"},  {":A", "Ä"},  {":O", "Ö"},  {":U", "Ü"},  {",c", "ç"},
    {"~n", "ñ"},  {"^e", "ê"},  {"^a", "â"},  {"^o", "ô"},  {"oa", "å"},  {"/o", "ø"},  {"ae", "æ"},
    {"bu", ""},   {"R", "®"},   {"Tm", "™"},
};

void append_special(std::string& out, const std::string& name) {
  for (const SpecialChar& s : kSpecialChars)
    if (name == s.name) {
      out += s.text;
      return;
    }
  // \[u00E9] names a code point.
  if (name.size() >= 5 && name[0] == 'u') {
    char* end = nullptr;
    unsigned long cp = std::strtoul(name.c_str() + 1, &end, 16);
    if (end && *end == '\0' && cp > 0 && cp < 0x110000) append_utf8(out, static_cast<char32_t>(cp));
  }
}

// Reads an escape's name after position i: "(xx", "[name]" or one character.
std::string escape_name(const std::string& line, size_t& i) {
  if (i >= line.size()) return {};
  if (line[i] == '(') {
    std::string name = line.substr(i + 1, 2);
    i = std::min(line.size(), i + 3);
    return name;
  }
  if (line[i] == '[') {
    size_t end = line.find(']', i);
    if (end == std::string::npos) end = line.size();
    std::string name = line.substr(i + 1, end - i - 1);
    i = std::min(line.size(), end + 1);
    return name;
  }
  return std::string(1, line[i++]);
}

// Skips a delimited argument ('...').
void skip_delimited(const std::string& line, size_t& i) {
  if (i >= line.size()) return;
  char delim = line[i];
  size_t end = line.find(delim, i + 1);
  i = end == std::string::npos ? line.size() : end + 1;
}

// The text of a line with its escapes resolved.
std::string resolve_escapes(const std::string& line) {
  std::string out;
  for (size_t i = 0; i < line.size();) {
    char c = line[i++];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i >= line.size()) break;  // a continuation
    char e = line[i++];
    switch (e) {
      case '"': case '#':
        return out;  // comment
      case 'f': case 'F': case 'm': case 'M': case 'n': case 'g': case 'k': case 'V': case 'Y':
        if (e == 'n' && i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
        escape_name(line, i);
        break;
      case '(': case '[':
        --i;
        append_special(out, escape_name(line, i));
        break;
      case '*': {
        std::string name = escape_name(line, i);
        if (name == "lq" || name == "rq") out += '"';
        else append_special(out, name);
        break;
      }
      case 's':
        if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
        if (i < line.size() && (line[i] == '(' || line[i] == '[')) escape_name(line, i);
        else
          while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
        break;
      case 'h': case 'v': case 'w': case 'o': case 'Z': case 'X': case 'D': case 'l': case 'L': case 'b':
      case 'x': case 'N': case 'A': case 'B': case 'C': case 'R': case 'S': case 'H':
        skip_delimited(line, i);
        break;
      case '$':
        escape_name(line, i);
        break;
      case '-':
        out += '-';
        break;
      case 'e': case '\\':
        out += '\\';
        break;
      case ' ': case '~': case '0': case 't':
        out += ' ';
        break;
      case '&': case ',': case '/': case ':': case '%': case '|': case '^': case ')': case 'c': case 'z':
      case 'd': case 'u': case 'p': case 'r': case '{': case '}':
        break;
      default:
        out += e;
        break;
    }
  }
  return out;
}

// The request name of a control line, and its arguments.
void split_request(const std::string& line, std::string* name, std::string* args) {
  size_t i = 1;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  size_t start = i;
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  *name = line.substr(start, i - start);
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  *args = line.substr(i);
}

// Arguments of a font macro, quotes removed; the alternating macros (BR, IR,
// ...) join them without blanks.
std::string macro_text(const std::string& args, bool alternating) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (size_t i = 0; i < args.size(); ++i) {
    char c = args[i];
    if (c == '"') {
      if (quoted && i + 1 < args.size() && args[i + 1] == '"') {
        word += '"';
        ++i;
      } else {
        quoted = !quoted;
        any = true;
      }
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (!word.empty() || any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
    }
  }
  if (!word.empty() || any) words.push_back(word);
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0 && !alternating) out += ' ';
    out += words[i];
  }
  return resolve_escapes(out);
}

bool one_of(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

uint32_t fnv1a(const std::string& s) {
  uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

}  // namespace

std::u32string code_points(const std::string& in) {
  std::u32string out;
  for (size_t i = 0; i < in.size();) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    bool ok = extra >= 0 && i + extra < in.size();
    char32_t cp = ok ? (extra == 0 ? b : b & (0x3F >> extra)) : b;
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char c = static_cast<unsigned char>(in[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (c & 0x3F);
    }
    if (!ok) {
      out.push_back(b);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

std::vector<std::string> package_man_pages(const std::string& package) {
  std::vector<std::string> pages;
  for (char c : package)
    if (!(is_ascii_letter(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '+')) return pages;
  std::string command = "dpkg-query -L " + package + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return pages;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, p)) {
    std::string path(buffer);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    if (path.rfind("/usr/share/man/", 0) != 0 || path.size() < 3 || path.compare(path.size() - 3, 3, ".gz") != 0)
      continue;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    pages.push_back(path);
  }
  pclose(p);
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

bool is_held_out_page(const std::string& path) {
  size_t slash = path.rfind('/');
  return fnv1a(slash == std::string::npos ? path : path.substr(slash + 1)) % 5 == 0;
}

bool read_gzip_file(const std::string& path, std::string* out) {
  out->clear();
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[65536];
  int n;
  while ((n = gzread(f, buffer, sizeof buffer)) > 0) out->append(buffer, n);
  bool ok = n == 0;
  gzclose(f);
  return ok;
}

std::vector<std::string> roff_paragraphs(const std::string& roff) {
  std::vector<std::string> paragraphs;
  std::string current;
  auto flush = [&] {
    size_t a = current.find_first_not_of(' ');
    if (a != std::string::npos) paragraphs.push_back(current.substr(a, current.find_last_not_of(' ') - a + 1));
    current.clear();
  };
  auto add = [&](const std::string& text) {
    if (text.empty()) return;
    if (!current.empty()) current += ' ';
    current += text;
  };
  enum { text, nofill, table, equation, definition } mode = text;
  bool tag_line = false;  // the line after .TP is the item's tag
  size_t pos = 0;
  while (pos < roff.size()) {
    size_t end = roff.find('\n', pos);
    if (end == std::string::npos) end = roff.size();
    std::string line = roff.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool control = !line.empty() && (line[0] == '.' || line[0] == '\'');
    std::string name, args;
    if (control) split_request(line, &name, &args);

    if (mode != text) {
      if ((mode == nofill && control && one_of(name, {"fi", "EE"})) || (mode == table && control && name == "TE") ||
          (mode == equation && control && name == "EN") || (mode == definition && control && name == "."))
        mode = text;
      continue;
    }
    if (!control) {
      std::string t = resolve_escapes(line);
      if (t.find_first_not_of(" \t") == std::string::npos) {
        flush();
      } else {
        add(t);
      }
      if (tag_line) {
        flush();
        tag_line = false;
      }
      continue;
    }
    if (name.empty() || name.rfind("\\\"", 0) == 0 || name.rfind("\\#", 0) == 0) continue;  // comment
    if (one_of(name, {"nf", "EX"})) {
      flush();
      mode = nofill;
    } else if (name == "TS") {
      flush();
      mode = table;
    } else if (name == "EQ") {
      flush();
      mode = equation;
    } else if (one_of(name, {"de", "de1", "am", "ig"})) {
      mode = definition;
    } else if (one_of(name, {"B", "I", "SM", "SB"})) {
      add(macro_text(args, false));
      if (tag_line) {
        flush();
        tag_line = false;
      }
    } else if (one_of(name, {"BR", "RB", "IR", "RI", "BI", "IB"})) {
      add(macro_text(args, true));
      if (tag_line) {
        flush();
        tag_line = false;
      }
    } else if (one_of(name, {"TP", "TQ"})) {
      flush();
      tag_line = true;
    } else if (one_of(name, {"SH", "SS"})) {
      flush();  // headings are not running text
    } else if (one_of(name, {"PP", "P", "LP", "IP", "HP", "sp", "br", "RS", "RE", "TH", "in", "ti", "bp",
                             "UR", "UE", "MT", "ME", "SY", "YS", "OP", "ce"})) {
      flush();
      if (name == "IP") tag_line = false;
    }
    // Any other request sets up formatting and carries no text.
  }
  flush();
  return paragraphs;
}

std::vector<std::string> split_sentences(const std::string& paragraph) {
  std::vector<std::string> sentences;
  std::u32string cps = code_points(paragraph);
  std::string current;
  auto flush = [&] {
    size_t a = current.find_first_not_of(' ');
    if (a != std::string::npos) sentences.push_back(current.substr(a, current.find_last_not_of(' ') - a + 1));
    current.clear();
  };
  for (size_t i = 0; i < cps.size(); ++i) {
    char32_t c = cps[i];
    if (c == '\t' || c == '\n') c = ' ';
    if (c == ' ' && !current.empty() && current.back() == ' ') continue;
    append_utf8(current, c);
    bool western_end = (c == '.' || c == '!' || c == '?') && (i + 1 == cps.size() || cps[i + 1] == ' ');
    bool wide_end = c == 0x3002 || c == 0xFF01 || c == 0xFF1F;
    if (western_end || wide_end) flush();
  }
  flush();
  return sentences;
}

size_t utf8_length(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

bool looks_like_prose(const std::string& sentence, script_kind kind) {
  std::u32string cps = code_points(sentence);
  size_t letters = 0, visible = 0, japanese = 0, words = 0;
  bool in_word = false;
  for (char32_t c : cps) {
    if (is_space(c)) {
      in_word = false;
      continue;
    }
    ++visible;
    if (is_letter(c)) ++letters;
    if (is_japanese(c)) ++japanese;
    if (!in_word) ++words;
    in_word = true;
  }
  if (visible == 0 || letters * 4 < visible * 3) return false;  // at least three letters in four
  if (kind == script_kind::japanese) return japanese * 2 >= letters;
  return japanese == 0 && words >= 5;
}

namespace {

// The English word list (wamerican), lower-case entries only; empty when it
// is not installed.
const std::unordered_set<std::string>& english_words() {
  static const std::unordered_set<std::string> words = [] {
    std::unordered_set<std::string> w;
    FILE* f = std::fopen("/usr/share/dict/american-english", "r");
    if (!f) return w;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      std::string word(line);
      while (!word.empty() && (word.back() == '\n' || word.back() == '\r')) word.pop_back();
      if (!word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        w.insert(word);
    }
    std::fclose(f);
    return w;
  }();
  return words;
}

}  // namespace

bool looks_english(const std::string& sentence) {
  static const char* const kMarkers[] = {"the", "and", "with", "this", "that", "which", "from",   "are",  "you",
                                         "these", "those", "have", "has", "been", "when", "should", "must", "into",
                                         "can", "not", "its", "their", "there", "will", "would", "or"};
  const std::unordered_set<std::string>& dictionary = english_words();
  size_t words = 0, markers = 0, known = 0;
  std::string word;
  auto end_word = [&] {
    if (word.empty()) return;
    ++words;
    for (const char* m : kMarkers)
      if (word == m) {
        ++markers;
        break;
      }
    known += dictionary.count(word);
    word.clear();
  };
  for (unsigned char c : sentence) {
    if (is_ascii_letter(c)) word += static_cast<char>(c | 0x20);
    else if (c >= 0x80 && !word.empty()) word += '\x80';  // a letter no English word has
    else end_word();
  }
  end_word();
  if (markers >= 2 && markers * 10 >= words) return true;
  return words >= 3 && known * 10 >= words * 7;
}

std::vector<std::string> man_sentences(const std::string& package, bool held_out, script_kind kind,
                                       bool keep_english, size_t min_length, size_t max_bytes) {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;  // boilerplate recurs from page to page
  size_t bytes = 0;
  std::string roff;
  for (const std::string& page : package_man_pages(package)) {
    if (is_held_out_page(page) != held_out) continue;
    if (!read_gzip_file(page, &roff)) continue;
    for (const std::string& paragraph : roff_paragraphs(roff))
      for (std::string& s : split_sentences(paragraph)) {
        if (utf8_length(s) < min_length || !looks_like_prose(s, kind)) continue;
        if (!keep_english && looks_english(s)) continue;
        if (!seen.insert(s).second) continue;
        bytes += s.size();
        out.push_back(std::move(s));
        if (max_bytes && bytes >= max_bytes) return out;
      }
  }
  return out;
}

}  // namespace vorlane::tools
