#include "engine/text/html_parser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/text/url_resolve.h"
#include "store/alloc.h"
#include "store/sized_pool.h"

namespace vorlane::engine {

namespace {

char kEmpty[1] = {0};

// Page-granular arenas of released results, kept for the next parses: the
// pages a parse touched are touched again by the next one instead of being
// faulted in afresh. Those of the largest pages are released.
sized_pool& arena_pool() {
  static sized_pool& pool = *new sized_pool(2, kArenaPoolLargest, false);
  return pool;
}

void release_arena(char* base, size_t size) {
  if (!base) return;
  if (size >= kArenaPageThreshold)
    sized_pool_give(&arena_pool(), base);
  else
    free(base);
}

void release_result(ParseResult* result) {
  release_arena(result->arena_base, result->arena_size);
  result->arena_base = nullptr;
}

template <typename T>
bool grow_array(HtmlParser* p, T** array, int count, int capacity) {
  T* fresh = static_cast<T*>(html_arena_array(p, sizeof(T) * static_cast<size_t>(capacity)));
  if (!fresh) return false;
  if (count > 0) memcpy(fresh, *array, sizeof(T) * static_cast<size_t>(count));
  *array = fresh;
  return true;
}

// Room for one more entry of a list of `count` entries, doubling when full.
// The arrays are replaced only when the arena has room for all of them.
template <typename... Arrays>
bool list_room(HtmlParser* p, int count, int* capacity, int start, Arrays**... arrays) {
  if (count < *capacity) return true;
  if (*capacity > (1 << 29)) return false;
  int fresh = *capacity > 0 ? *capacity * 2 : start;
  size_t need = ((sizeof(Arrays) * static_cast<size_t>(fresh) + 8) + ...);
  if (need > static_cast<size_t>(p->arena_end - p->cursor)) return false;
  (grow_array(p, arrays, count, fresh), ...);
  *capacity = fresh;
  return true;
}

}  // namespace

char* html_arena_bytes(HtmlParser* p, size_t size) {
  if (size > static_cast<size_t>(p->arena_end - p->cursor)) return nullptr;
  char* out = p->cursor;
  p->cursor += size;
  return out;
}

void* html_arena_array(HtmlParser* p, size_t size) {
  uintptr_t at = reinterpret_cast<uintptr_t>(p->cursor);
  size_t pad = (8 - (at & 7)) & 7;
  if (pad > static_cast<size_t>(p->arena_end - p->cursor)) return nullptr;
  char* saved = p->cursor;
  p->cursor += pad;
  char* out = html_arena_bytes(p, size);
  if (!out) p->cursor = saved;
  return out;
}

const char* html_arena_string(HtmlParser* p, const char* data, size_t size) {
  if (size == SIZE_MAX) return kEmpty;
  char* out = html_arena_bytes(p, size + 1);
  if (!out) return kEmpty;
  if (size) memcpy(out, data, size);
  out[size] = 0;
  return out;
}

const char* html_arena_string(HtmlParser* p, const char* c_string) {
  return html_arena_string(p, c_string, strlen(c_string));
}

bool html_grow_init(HtmlParser* p, GrowBuffer* b, size_t capacity) {
  b->used = 0;
  b->data = html_arena_bytes(p, capacity);
  b->capacity = b->data ? capacity : 0;
  return b->data != nullptr;
}

void html_grow_putc(HtmlParser* p, GrowBuffer* b, char c) {
  if (b->used >= b->capacity) {
    size_t fresh_capacity = b->capacity ? b->capacity * 2 : kGrowBufferStart;
    char* fresh = html_arena_bytes(p, fresh_capacity);
    if (!fresh) return;
    if (b->used) memcpy(fresh, b->data, b->used);
    b->data = fresh;
    b->capacity = fresh_capacity;
  }
  b->data[b->used++] = c;
}

void html_grow_append(HtmlParser* p, GrowBuffer* b, const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) html_grow_putc(p, b, data[i]);
}

const char* html_grow_take(HtmlParser* p, GrowBuffer* b, size_t mark) {
  if (mark > b->used) mark = b->used;
  const char* out = html_arena_string(p, b->data + mark, b->used - mark);
  b->used = mark;
  return out;
}

bool html_parser_init(HtmlParser* p, const char* text, const char* base) {
  memset(p, 0, sizeof *p);
  if (!text) text = "";
  if (!base) base = "";
  p->text = reinterpret_cast<const unsigned char*>(text);
  p->length = strlen(text);
  if (p->length > (SIZE_MAX - kArenaExtra) / 6) return false;
  p->arena_size = p->length * 6 + kArenaExtra;
  if (p->arena_size >= kArenaPageThreshold)
    p->arena_base = static_cast<char*>(sized_pool_take(&arena_pool(), p->arena_size));
  else
    p->arena_base = static_cast<char*>(malloc(p->arena_size));
  if (!p->arena_base) return false;
  p->cursor = p->arena_base;
  p->arena_end = p->arena_base + p->arena_size;

  // The arena always has room for these: it is 6 times the text plus 128 KB.
  p->body = html_arena_bytes(p, p->length + 1);
  p->body[p->length] = 0;
  p->body_capacity = p->length;
  html_grow_init(p, &p->scratch, kGrowBufferStart);
  html_grow_init(p, &p->alt, kGrowBufferStart);
  p->summary = html_arena_bytes(p, kSummarySize);
  p->title = kEmpty;
  list_room(p, 0, &p->text_list.capacity, kListStart, &p->text_list.texts, &p->text_list.labels);
  list_room(p, 0, &p->link_list.capacity, kListStart, &p->link_list.urls, &p->link_list.texts,
            &p->link_list.thirds);
  list_room(p, 0, &p->image_list.capacity, kListStart, &p->image_list.urls, &p->image_list.alts,
            &p->image_list.widths, &p->image_list.heights, &p->image_list.fifths);
  list_room(p, 0, &p->header_list.capacity, kHeaderListStart, &p->header_list.names,
            &p->header_list.contents);

  html_set_base(p, html_arena_string(p, base), true);
  p->current = p->length > 0 ? p->text[0] : -1;
  p->position = p->length > 0 ? 1 : 0;
  return true;
}

void html_parser_free(HtmlParser* p) {
  release_arena(p->arena_base, p->arena_size);
  p->arena_base = nullptr;
}

void html_add_text(HtmlParser* p, const char* text, const char* label) {
  TextList& l = p->text_list;
  if (!list_room(p, l.count, &l.capacity, kListStart, &l.texts, &l.labels)) return;
  l.texts[l.count] = text;
  l.labels[l.count] = label;
  ++l.count;
}

void html_add_link_entry(HtmlParser* p, const char* url, const char* text) {
  LinkList& l = p->link_list;
  if (!list_room(p, l.count, &l.capacity, kListStart, &l.urls, &l.texts, &l.thirds)) return;
  l.urls[l.count] = url;
  l.texts[l.count] = text;
  l.thirds[l.count] = nullptr;
  ++l.count;
}

void html_add_image_entry(HtmlParser* p, const char* url, const char* alt, int width, int height) {
  ImageList& l = p->image_list;
  if (!list_room(p, l.count, &l.capacity, kListStart, &l.urls, &l.alts, &l.widths, &l.heights,
                 &l.fifths))
    return;
  l.urls[l.count] = url;
  l.alts[l.count] = alt;
  l.widths[l.count] = width;
  l.heights[l.count] = height;
  l.fifths[l.count] = nullptr;
  ++l.count;
}

void html_add_header(HtmlParser* p, const char* name, const char* content) {
  HeaderList& l = p->header_list;
  if (!list_room(p, l.count, &l.capacity, kHeaderListStart, &l.names, &l.contents)) return;
  l.names[l.count] = name;
  l.contents[l.count] = content;
  ++l.count;
}

void html_parser_result(HtmlParser* p, ParseResult* r) {
  r->arena_base = p->arena_base;
  r->arena_size = p->arena_size;
  r->title = p->title;
  r->summary = p->summary;
  r->body = p->body;
  r->text_count = p->text_list.count;
  r->texts = p->text_list.texts;
  r->labels = p->text_list.labels;
  r->link_count = p->link_list.count;
  r->link_urls = p->link_list.urls;
  r->link_texts = p->link_list.texts;
  r->link_thirds = p->link_list.thirds;
  r->image_count = p->image_list.count;
  r->image_urls = p->image_list.urls;
  r->image_alts = p->image_list.alts;
  r->image_widths = p->image_list.widths;
  r->image_heights = p->image_list.heights;
  r->image_fifths = p->image_list.fifths;
  r->header_count = p->header_list.count;
  r->header_names = p->header_list.names;
  r->header_contents = p->header_list.contents;
  r->release = release_result;
  p->arena_base = nullptr;  // the result owns the arena now
}

}  // namespace vorlane::engine
