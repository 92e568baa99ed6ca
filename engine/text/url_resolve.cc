#include "engine/text/url_resolve.h"

#include <cstring>

#include "store/cclass.h"

namespace vorlane::engine {

namespace {

struct Range {
  size_t from = 0;
  size_t to = 0;
  bool empty() const { return from == to; }
  size_t size() const { return to - from; }
};

struct UrlParts {
  Range scheme, host, directory, rest;
};

// Directory split of url[from, n): up to and including the last '/' before
// the first '?'.
void split_directory(const char* url, size_t from, size_t n, UrlParts* parts) {
  size_t end = from;
  while (end < n && url[end] != '?') ++end;
  size_t last = end;
  for (size_t i = from; i < end; ++i)
    if (url[i] == '/') last = i;
  if (last == end) {
    parts->rest = {from, n};
    return;
  }
  parts->directory = {from, last + 1};
  parts->rest = {last + 1, n};
}

// Host split of url[from, n), which starts with "//".
void split_host(const char* url, size_t from, size_t n, UrlParts* parts) {
  size_t slash = from + 2;
  while (slash < n && url[slash] != '/') ++slash;
  parts->host = {from, slash};
  if (slash < n) split_directory(url, slash, n, parts);
}

void split_ranges(const char* url, size_t n, UrlParts* parts) {
  *parts = UrlParts{};
  const char* hash = static_cast<const char*>(memrchr(url, '#', n));
  if (hash) n = static_cast<size_t>(hash - url);

  // The first '/' counts only when no '?' comes before it.
  size_t slash = 0;
  while (slash < n && url[slash] != '/' && url[slash] != '?') ++slash;
  bool has_slash = slash < n && url[slash] == '/';

  size_t letters = 0;
  while (letters < n && c_isalpha(static_cast<unsigned char>(url[letters]))) ++letters;
  bool has_scheme = letters > 0 && letters < n && url[letters] == ':';

  if (!has_slash) {
    if (has_scheme) {
      parts->scheme = {0, letters + 1};
      parts->rest = {letters + 1, n};
    } else {
      parts->rest = {0, n};
    }
    return;
  }
  if (slash == 0) {
    if (n > 1 && url[1] == '/')
      split_host(url, 0, n, parts);
    else
      split_directory(url, 0, n, parts);
    return;
  }
  if (!has_scheme) {
    split_directory(url, 0, n, parts);
    return;
  }
  parts->scheme = {0, letters + 1};
  size_t after = letters + 1;
  if (after + 1 < n && url[after] == '/' && url[after + 1] == '/')
    split_host(url, after, n, parts);
  else
    split_directory(url, after, n, parts);
}

const char* lower_string(HtmlParser* p, const char* url, Range r) {
  const char* s = html_arena_string(p, url + r.from, r.size());
  if (*s) {
    char* w = const_cast<char*>(s);
    for (; *w; ++w) *w = static_cast<char>(c_tolower(static_cast<unsigned char>(*w)));
  }
  return s;
}

// Whether a host ("//name[:port]") can be a web address.
bool host_acceptable(const char* host, size_t size) {
  const char* name = host + 2;
  const char* end = host + size;
  if (name < end && *name == '.') return false;
  const char* colon = static_cast<const char*>(memchr(name, ':', static_cast<size_t>(end - name)));
  const char* name_end = colon ? colon : end;
  if (name_end == name) return false;  // "//" or "//:port": no host name
  for (const char* c = name; c < name_end; ++c) {
    unsigned char b = static_cast<unsigned char>(*c);
    if (!c_isalnum(b) && b != '.' && b != '-') return false;
  }
  if (name_end[-1] == '.') return false;
  if (colon) {
    if (colon + 1 == end) return false;
    for (const char* c = colon + 1; c < end; ++c)
      if (!c_isdigit(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

// Erases [from, to) of buf (length *n).
void erase(char* buf, size_t* n, size_t from, size_t to) {
  memmove(buf + from, buf + to, *n - to);
  *n -= to - from;
}

size_t find(const char* buf, size_t n, size_t from, const char* what, size_t size) {
  for (size_t i = from; i + size <= n; ++i)
    if (memcmp(buf + i, what, size) == 0) return i;
  return n;
}

// Removes "/./" and "/../" segments from buf[path, n).
void remove_dot_segments(char* buf, size_t* n, size_t path) {
  for (size_t i = find(buf, *n, path, "/./", 3); i < *n; i = find(buf, *n, i, "/./", 3))
    erase(buf, n, i + 1, i + 3);
  for (size_t i = find(buf, *n, path, "/../", 4); i < *n; i = find(buf, *n, path, "/../", 4)) {
    size_t last = i;
    while (last > path && buf[last - 1] != '/') --last;
    // last is one past the '/' that ends the kept text, or the path's start
    // when the "/../" climbs above the root: then only "/.." goes.
    if (last > path)
      erase(buf, n, last, i + 4);
    else
      erase(buf, n, i + 1, i + 4);
  }
}

}  // namespace

void url_split(HtmlParser* p, const char* url, const char** scheme, const char** host,
               const char** directory, const char** rest) {
  UrlParts parts;
  split_ranges(url, strlen(url), &parts);
  *scheme = lower_string(p, url, parts.scheme);
  *host = lower_string(p, url, parts.host);
  *directory = html_arena_string(p, url + parts.directory.from, parts.directory.size());
  *rest = html_arena_string(p, url + parts.rest.from, parts.rest.size());
}

void html_set_base(HtmlParser* p, const char* url, bool first) {
  url_split(p, url, &p->base_scheme, &p->base_host, &p->base_directory, &p->base_rest);
  if (!*p->base_directory) p->base_directory = "/";
  if (!first) return;
  p->base_domain = nullptr;
  const char* dot = strchr(p->base_host, '.');
  if (dot) {
    const char* colon = strchr(dot, ':');
    size_t size = colon ? static_cast<size_t>(colon - dot) : strlen(dot);
    p->base_domain = html_arena_string(p, dot, size);
  }
}

const char* html_resolve_url(HtmlParser* p, const char* url) {
  UrlParts parts;
  size_t url_size = strlen(url);
  split_ranges(url, url_size, &parts);

  GrowBuffer& s = p->scratch;
  size_t mark = s.used;
  auto put = [&](const char* data, size_t size) { html_grow_append(p, &s, data, size); };
  auto put_lower = [&](Range r) {
    for (size_t i = r.from; i < r.to; ++i)
      html_grow_putc(p, &s, static_cast<char>(c_tolower(static_cast<unsigned char>(url[i]))));
  };

  // scheme
  if (!parts.scheme.empty())
    put_lower(parts.scheme);
  else
    put(p->base_scheme, strlen(p->base_scheme));
  bool is_file = s.used - mark == 5 && memcmp(s.data + mark, "file:", 5) == 0;

  // host, into the scratch so that it can be checked and completed
  size_t host_at = s.used;
  if (!parts.host.empty())
    put_lower(parts.host);
  else if (*p->base_host)
    put(p->base_host, strlen(p->base_host));
  else
    put("//", 2);  // a base without a host
  size_t host_size = s.used - host_at;
  if (host_size < 2 || s.used - mark < host_size) {  // no room in the arena
    s.used = mark;
    return "";
  }
  const char* host = s.data + host_at;
  bool bare = host_size == 2;
  if (bare ? !is_file : !host_acceptable(host, host_size)) {
    s.used = mark;
    return "";
  }
  if (!bare && p->base_domain && !memchr(host, '.', host_size)) {
    // Completes a single-label host name with the base's domain.
    const char* colon = static_cast<const char*>(memchr(host, ':', host_size));
    size_t name_size = colon ? static_cast<size_t>(colon - host) : host_size;
    size_t port_size = host_size - name_size;
    char port[64];
    const char* port_text = s.data + host_at + name_size;
    if (port_size < sizeof port) {
      memcpy(port, port_text, port_size);
      s.used = host_at + name_size;
      put(p->base_domain, strlen(p->base_domain));
      put(port, port_size);
    }
  }
  size_t path_at = s.used;

  // directory and rest
  const char* directory = url + parts.directory.from;
  size_t directory_size = parts.directory.size();
  if (directory_size == 0) {
    if (!parts.rest.empty()) {
      directory = p->base_directory;
      directory_size = strlen(directory);
    } else {
      directory = "/";
      directory_size = 1;
    }
  }
  if (directory[0] != '/') put(p->base_directory, strlen(p->base_directory));
  put(directory, directory_size);
  put(url + parts.rest.from, parts.rest.size());

  size_t n = s.used - mark;
  char* buf = s.data + mark;
  while (n > 0 && buf[n - 1] == ' ') --n;
  remove_dot_segments(buf, &n, path_at - mark);
  s.used = mark + n;
  return html_grow_take(p, &s, mark);
}

}  // namespace vorlane::engine
