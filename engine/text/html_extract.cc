#include "engine/text/html_extract.h"

#include <climits>
#include <cstring>

#include "engine/text/html_entities.h"
#include "engine/text/url_resolve.h"
#include "store/cclass.h"

namespace vorlane::engine {

namespace {

// Characters that the scanner turns into a pending space.
bool is_white(int c) { return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == 0xA0; }

// White space between attributes.
bool is_tag_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Control, punctuation or space character.
bool is_cps(int c) {
  unsigned char b = static_cast<unsigned char>(c);
  return c_iscntrl(b) || c_ispunct(b) || c_isspace(b);
}

void next(HtmlParser* p) {
  p->current = p->position < p->length ? p->text[p->position++] : -1;
  if (p->current < 0) p->position = p->length;
}

int peek(const HtmlParser* p) { return p->position < p->length ? p->text[p->position] : -1; }

// Puts one byte of text into the body and the summary.
void html_putc(HtmlParser* p, int c) {
  if (p->in_script || p->in_style || p->no_index) return;
  if (c == ' ' && p->body_length == 0) return;
  if (is_cps(c) && p->body_length >= 2 && p->body[p->body_length - 1] == static_cast<char>(c) &&
      p->body[p->body_length - 2] == static_cast<char>(c))
    return;  // runs of such a character are kept to two
  if (p->body_length < p->body_capacity) p->body[p->body_length++] = static_cast<char>(c);

  if (p->summary_length >= kSummarySize - 1) return;
  if (p->summary_length > 0) {
    p->summary[p->summary_length++] = static_cast<char>(c);
    return;
  }
  if (c == '(') p->in_parentheses = 1;
  if (c == ')') p->in_parentheses = 0;
  if (c == '[') p->in_brackets = 1;
  if (c == ']') p->in_brackets = 0;
  // The summary begins with the first text outside titles, headings, links,
  // lists, brackets and emphasis.
  if (p->in_title || p->in_heading || p->in_anchor || p->list_depth || p->in_brackets ||
      p->in_parentheses || p->in_b || p->in_i || p->in_em || p->in_strong || p->in_tt ||
      p->in_address || p->font_depth || p->in_select || p->in_textarea)
    return;
  if (is_cps(c)) return;
  p->summary[p->summary_length++] = static_cast<char>(c);
}

// A name: a letter, then letters, digits, '-', '.' and '_', appended to the
// scratch (in lower case with `lower`). False when the current byte starts
// no name.
bool html_name(HtmlParser* p, bool lower) {
  if (p->current < 0 || !c_isalpha(static_cast<unsigned char>(p->current))) return false;
  while (p->current >= 0) {
    unsigned char c = static_cast<unsigned char>(p->current);
    if (!c_isalnum(c) && c != '-' && c != '.' && c != '_') break;
    html_grow_putc(p, &p->scratch, static_cast<char>(lower ? c_tolower(c) : c));
    next(p);
  }
  return true;
}

// Decodes the entity at the current '&', appending its bytes to the scratch.
void html_entity(HtmlParser* p) {
  GrowBuffer& s = p->scratch;
  next(p);
  if (p->current == '#') {
    next(p);
    if (p->current < 0 || !c_isdigit(static_cast<unsigned char>(p->current))) {
      html_grow_append(p, &s, "&#", 2);
      return;
    }
    uint32_t value = 0;  // stops growing once past any byte value
    while (p->current >= 0 && c_isdigit(static_cast<unsigned char>(p->current))) {
      if (value <= 0xFFFF) value = value * 10 + static_cast<uint32_t>(p->current - '0');
      next(p);
    }
    if (p->current == ';') next(p);
    if (value == 0) return;  // a NUL would end every string it went into
    // A code point beyond Latin-1 has no byte: it reads as a blank.
    html_grow_putc(p, &s, value > 255 ? ' ' : static_cast<char>(value));
    return;
  }
  size_t mark = s.used;
  html_grow_putc(p, &s, '&');
  size_t name_at = s.used;
  if (!html_name(p, false)) return;
  bool semicolon = false;
  if (p->current == ';') {
    semicolon = true;
    next(p);
  }
  if (p->current != '=') {  // "&b=2" of a query string is never an entity
    int value = html_entity_value(s.data + name_at, s.used - name_at);
    if (value >= 0) {
      s.used = mark;
      html_grow_putc(p, &s, static_cast<char>(value));
      return;
    }
  }
  if (semicolon) html_grow_putc(p, &s, ';');
}

// After "<!--": a comment up to "--". Only "stopindex" and "startindex"
// (case ignored, compared whole) mean anything.
void html_comment(HtmlParser* p) {
  GrowBuffer& s = p->scratch;
  size_t mark = s.used;
  size_t collected = 0;
  for (;;) {
    int c = p->current;
    if (c < 0) break;
    if (c == '-') {
      int after = peek(p);
      if (after == '-') {
        next(p);
        next(p);
        size_t n = s.used - mark;
        const char* t = s.data + mark;
        auto equals = [&](const char* word) {
          size_t w = strlen(word);
          if (n != w || collected != w) return false;
          for (size_t i = 0; i < w; ++i)
            if (c_tolower(static_cast<unsigned char>(t[i])) != word[i]) return false;
          return true;
        };
        if (equals("stopindex")) p->no_index = 1;
        if (equals("startindex")) p->no_index = 0;
        break;
      }
      if (after == '>' || after < 0) {
        next(p);  // the '>' is left for the declaration
        break;
      }
    } else if (c == '>' && collected == 0) {
      break;
    }
    if (collected < 16) html_grow_putc(p, &s, static_cast<char>(c));
    ++collected;
    next(p);
  }
  s.used = mark;
}

// After "<!": a declaration up to '>' (consumed) or '<' (not consumed).
void html_declaration(HtmlParser* p) {
  next(p);
  for (;;) {
    int c = p->current;
    if (c < 0 || c == '<') return;
    if (c == '>') {
      next(p);
      return;
    }
    if (c == '"' || c == '\'') {
      next(p);
      while (p->current >= 0 && p->current != c) next(p);
      if (p->current == c) next(p);
      continue;
    }
    if (c == '-' && peek(p) == '-') {
      next(p);
      next(p);
      html_comment(p);
      continue;
    }
    next(p);
  }
}

void skip_tag_space(HtmlParser* p) {
  while (is_tag_space(p->current)) next(p);
}

// Reads the attributes of the tag being opened into p->attributes.
void html_attributes(HtmlParser* p) {
  GrowBuffer& s = p->scratch;
  p->attributes = nullptr;
  for (;;) {
    skip_tag_space(p);
    int c = p->current;
    if (c < 0 || c == '/' || c == '<') return;
    if (c == '>') {
      next(p);
      return;
    }
    if (c == '-' && peek(p) == '-') {
      next(p);
      next(p);
      html_comment(p);
      continue;
    }
    size_t mark = s.used;
    if (!html_name(p, true)) {
      next(p);
      continue;
    }
    const char* name = html_grow_take(p, &s, mark);
    skip_tag_space(p);
    const char* value = nullptr;
    if (p->current == '=') {
      next(p);
      skip_tag_space(p);
      int quote = (p->current == '"' || p->current == '\'') ? p->current : 0;
      if (quote) next(p);
      for (;;) {
        c = p->current;
        if (c < 0 || c == '<' || c == '>') break;
        if (quote ? c == quote : is_tag_space(c)) break;
        if (c == '&') {
          html_entity(p);
        } else {
          html_grow_putc(p, &s, static_cast<char>(c));
          next(p);
        }
      }
      if (quote && p->current == quote) next(p);
      value = html_grow_take(p, &s, mark);
    }
    auto* node = static_cast<HtmlAttribute*>(html_arena_array(p, sizeof(HtmlAttribute)));
    if (!node) continue;
    node->next = p->attributes;
    node->name = name;
    node->value = value;
    p->attributes = node;
  }
}

// The value of the newest attribute of that name; null when absent or
// given without '='.
const char* attribute(const HtmlParser* p, const char* name) {
  for (const HtmlAttribute* a = p->attributes; a; a = a->next)
    if (strcmp(a->name, name) == 0) return a->value;
  return nullptr;
}

// The runtime's atoi, without its overflow: leading space, a sign, digits.
int decimal(const char* text) {
  if (!text) return 0;
  while (c_isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long v = 0;
  while (c_isdigit(static_cast<unsigned char>(*text))) {
    if (v < INT_MAX) v = v * 10 + (*text - '0');
    ++text;
  }
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<int>(negative ? -v : v);
}

// Whether every byte of a URL is a letter, digit, punctuation or blank.
bool url_bytes_acceptable(const char* url) {
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(url); *c; ++c)
    if (!c_isalnum(*c) && !c_ispunct(*c) && *c != ' ') return false;
  return true;
}

void add_link(HtmlParser* p, const char* url, const char* text) {
  if (!url_bytes_acceptable(url)) return;
  const char* resolved = html_resolve_url(p, url);
  if (*resolved) html_add_link_entry(p, resolved, text);
}

void add_image(HtmlParser* p, const char* url, const char* alt, int width, int height) {
  if (!url_bytes_acceptable(url)) return;
  const char* resolved = html_resolve_url(p, url);
  if (*resolved) html_add_image_entry(p, resolved, alt, width, height);
}

void append_alt(HtmlParser* p, const char* text) {
  if (!*text) return;
  if (p->alt.used > 0) html_grow_append(p, &p->alt, ", ", 2);
  html_grow_append(p, &p->alt, text, strlen(text));
}

void trim_trailing(GrowBuffer* s, size_t mark) {
  while (s->used > mark && is_cps(static_cast<unsigned char>(s->data[s->used - 1]))) --s->used;
}

// The text of the anchor being closed: its body text, then any alternative
// text added inside it, without surrounding punctuation and space.
const char* anchor_text(HtmlParser* p) {
  GrowBuffer& s = p->scratch;
  size_t body_mark = p->anchor_body_mark < p->body_length ? p->anchor_body_mark : p->body_length;
  size_t alt_mark = p->anchor_alt_mark < p->alt.used ? p->anchor_alt_mark : p->alt.used;
  while (body_mark < p->body_length && is_cps(static_cast<unsigned char>(p->body[body_mark])))
    ++body_mark;
  while (alt_mark < p->alt.used && is_cps(static_cast<unsigned char>(p->alt.data[alt_mark])))
    ++alt_mark;
  size_t mark = s.used;
  html_grow_append(p, &s, p->body + body_mark, p->body_length - body_mark);
  trim_trailing(&s, mark);
  if (alt_mark < p->alt.used) {
    if (s.used > mark) html_grow_append(p, &s, ", ", 2);
    html_grow_append(p, &s, p->alt.data + alt_mark, p->alt.used - alt_mark);
    trim_trailing(&s, mark);
  }
  return html_grow_take(p, &s, mark);
}

// "name:" from a meta name's letters, digits, '.', '-' and '_'.
const char* meta_label(HtmlParser* p, const char* name) {
  GrowBuffer& s = p->scratch;
  size_t mark = s.used;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
    if (c_isalnum(*c) || *c == '.' || *c == '-' || *c == '_')
      html_grow_putc(p, &s, static_cast<char>(*c));
  html_grow_putc(p, &s, ':');
  return html_grow_take(p, &s, mark);
}

void set_flag(int32_t* flag, bool end) { *flag = end ? 0 : 1; }

void change_depth(int32_t* depth, bool end) {
  if (!end)
    ++*depth;
  else if (*depth > 0)
    --*depth;
}

void html_tag(HtmlParser* p, const char* name, bool end) {
  if (strcmp(name, "a") == 0) {
    if (!end) {
      const char* href = attribute(p, "href");
      p->anchor = href;
      p->anchor_body_mark = href ? p->body_length : 0;
      p->anchor_alt_mark = href ? p->alt.used : 0;
      if (href) p->in_anchor = 1;
    } else {
      p->in_anchor = 0;
      if (p->anchor) add_link(p, p->anchor, anchor_text(p));
      p->anchor = nullptr;
      p->anchor_body_mark = p->anchor_alt_mark = 0;
    }
  } else if (strcmp(name, "area") == 0) {
    if (end) return;
    const char* alt = attribute(p, "alt");
    if (alt && !p->no_index) append_alt(p, alt);
    if (const char* href = attribute(p, "href")) add_link(p, href, alt);
  } else if (strcmp(name, "address") == 0) {
    set_flag(&p->in_address, end);
  } else if (strcmp(name, "b") == 0) {
    set_flag(&p->in_b, end);
  } else if (strcmp(name, "em") == 0) {
    set_flag(&p->in_em, end);
  } else if (strcmp(name, "i") == 0) {
    set_flag(&p->in_i, end);
  } else if (strcmp(name, "strong") == 0) {
    set_flag(&p->in_strong, end);
  } else if (strcmp(name, "tt") == 0) {
    set_flag(&p->in_tt, end);
  } else if (strcmp(name, "select") == 0) {
    set_flag(&p->in_select, end);
  } else if (strcmp(name, "textarea") == 0) {
    set_flag(&p->in_textarea, end);
  } else if (strcmp(name, "script") == 0) {
    set_flag(&p->in_script, end);
  } else if (strcmp(name, "style") == 0) {
    set_flag(&p->in_style, end);
  } else if (name[0] == 'h' && name[1] >= '1' && name[1] <= '6' && name[2] == 0) {
    set_flag(&p->in_heading, end);
  } else if (strcmp(name, "dl") == 0 || strcmp(name, "ol") == 0 || strcmp(name, "ul") == 0) {
    change_depth(&p->list_depth, end);
  } else if (strcmp(name, "font") == 0) {
    change_depth(&p->font_depth, end);
  } else if (strcmp(name, "base") == 0) {
    if (end) return;
    if (const char* href = attribute(p, "href")) {
      const char* resolved = html_resolve_url(p, href);
      if (*resolved) html_set_base(p, resolved, false);
    }
  } else if (strcmp(name, "frame") == 0) {
    if (end) return;
    if (const char* src = attribute(p, "src")) add_link(p, src, nullptr);
  } else if (strcmp(name, "link") == 0) {
    if (end) return;
    if (const char* href = attribute(p, "href")) add_link(p, href, nullptr);
  } else if (strcmp(name, "img") == 0) {
    if (end) return;
    const char* alt = attribute(p, "alt");
    if (p->no_index)
      alt = "";
    else if (alt)
      append_alt(p, alt);
    if (const char* src = attribute(p, "src"))
      add_image(p, src, alt, decimal(attribute(p, "width")), decimal(attribute(p, "height")));
  } else if (strcmp(name, "meta") == 0) {
    if (end) return;
    const char* meta_name = attribute(p, "name");
    const char* content = attribute(p, "content");
    if (meta_name && *meta_name && content && *content) {
      html_add_text(p, content, meta_label(p, meta_name));
    } else if (const char* equiv = attribute(p, "http-equiv")) {
      if (content) html_add_header(p, equiv, content);
    }
  } else if (strcmp(name, "title") == 0) {
    if (!end) {
      p->in_title = 1;
      p->title_start = p->body_length;
    } else if (p->in_title) {
      // A </title> without an open title cuts nothing.
      p->in_title = 0;
      size_t start = p->title_start < p->body_length ? p->title_start : p->body_length;
      if (!*p->title) p->title = html_arena_string(p, p->body + start, p->body_length - start);
      p->body_length = start;
    }
  }
}

// After '<': a declaration or comment, or a tag with its attributes.
void html_tag_open(HtmlParser* p) {
  next(p);
  if (p->current == '!') {
    html_declaration(p);
    return;
  }
  bool end = false;
  if (p->current == '/') {
    end = true;
    next(p);
  }
  GrowBuffer& s = p->scratch;
  size_t mark = s.used;
  if (!html_name(p, true)) return;
  // Only short names are known tags; a longer one is kept cut, unknown.
  char name[16];
  size_t n = s.used - mark;
  if (n >= sizeof name) n = sizeof name - 1;
  memcpy(name, s.data + mark, n);
  name[n] = 0;
  if (s.used - mark >= sizeof name) name[0] = 0;
  s.used = mark;
  html_attributes(p);
  html_tag(p, name, end);
  p->attributes = nullptr;
}

}  // namespace

void html_scan(HtmlParser* p) {
  bool space = false;
  bool brk = false;
  auto emit = [&](int c) {
    if (brk) {
      if (p->body_length) {
        html_putc(p, '\n');
        html_putc(p, ' ');
      }
      brk = space = false;
    } else if (space) {
      space = false;
      if (p->body_length) html_putc(p, ' ');
    }
    html_putc(p, c);
  };
  while (p->current >= 0) {
    int c = p->current;
    if (is_white(c)) {
      space = true;
      next(p);
    } else if (c == '&') {
      GrowBuffer& s = p->scratch;
      size_t mark = s.used;
      html_entity(p);
      for (size_t i = mark; i < s.used; ++i) {
        unsigned char b = static_cast<unsigned char>(s.data[i]);
        if (is_white(b))
          space = true;
        else
          emit(b);
      }
      s.used = mark;
    } else if (c == '<') {
      html_tag_open(p);
      brk = true;
    } else {
      emit(c);
      next(p);
    }
  }
  if (p->alt.used > 0) html_add_text(p, html_grow_take(p, &p->alt, 0), "alt:");
  p->body[p->body_length] = 0;
  p->summary[p->summary_length] = 0;
}

bool parse_html_text(const char* text, const char* base, ParseResult* result) {
  HtmlParser p;
  if (!html_parser_init(&p, text, base)) {
    memset(result, 0, sizeof *result);
    return false;
  }
  html_scan(&p);
  html_parser_result(&p, result);
  return true;
}

}  // namespace vorlane::engine
