// The state of one HTML parse and the arena that holds everything it builds.
//
// The arena is one block sized before the parse (text length x 6 + 128 KB),
// from the heap below 512 KB and page-granular above; a page-granular block
// up to 4 MB is kept for later parses when the result is released, so it
// may be larger than the arena and holds what an earlier parse left (as a
// block from the heap may): nothing is read that the parse did not write.
// The arena's end is its size all the same. Allocation only moves a
// cursor; a request past the end yields nothing, so strings become empty,
// appended characters and list entries are dropped. Nothing is freed
// piecewise: the whole arena goes when the result is released.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/text/parse_result.h"

namespace vorlane::engine {

inline constexpr size_t kArenaExtra = 131072;
inline constexpr size_t kArenaPageThreshold = 524288;
inline constexpr size_t kArenaPoolLargest = 4u << 20;
inline constexpr size_t kGrowBufferStart = 1024;
inline constexpr size_t kSummarySize = 1024;
inline constexpr int kListStart = 256;
inline constexpr int kHeaderListStart = 8;

// A buffer in the arena that doubles by copying into a new arena block.
struct GrowBuffer {
  char* data;
  size_t used;
  size_t capacity;
};

// One attribute of the tag being read; the newest is first.
struct HtmlAttribute {
  HtmlAttribute* next;
  const char* name;
  const char* value;  // null for a name without '='
};

// Parallel arrays of one result list.
struct TextList {
  const char** texts;
  const char** labels;
  int count;
  int capacity;
};
struct LinkList {
  const char** urls;
  const char** texts;
  const char** thirds;
  int count;
  int capacity;
};
struct ImageList {
  const char** urls;
  const char** alts;
  int* widths;
  int* heights;
  const char** fifths;
  int count;
  int capacity;
};
struct HeaderList {
  const char** names;
  const char** contents;
  int count;
  int capacity;
};

struct HtmlParser {
  // arena
  char* arena_base;
  size_t arena_size;
  char* cursor;
  char* arena_end;
  // input, read up to its first NUL
  const unsigned char* text;
  size_t position;  // index of the byte after the current one
  size_t length;
  int current;  // -1 at the end
  // body: length + 1 bytes, capacity = length
  char* body;
  size_t body_length;
  size_t body_capacity;
  GrowBuffer scratch;
  GrowBuffer alt;
  char* summary;
  size_t summary_length;
  // title and anchor
  size_t title_start;
  const char* anchor;  // the open anchor's href, or null
  size_t anchor_body_mark;
  size_t anchor_alt_mark;
  // flags
  int32_t in_title, in_script, in_select, in_textarea, in_style, in_heading, list_depth,
      in_anchor, in_b, in_i, in_em, in_strong, in_tt, in_address, font_depth, in_brackets,
      in_parentheses;
  int32_t no_index;
  const char* title;
  // base URL parts and the base domain (null when the first base host has no '.')
  const char* base_scheme;
  const char* base_host;
  const char* base_directory;
  const char* base_rest;
  const char* base_domain;
  TextList text_list;
  LinkList link_list;
  ImageList image_list;
  HeaderList header_list;
  HtmlAttribute* attributes;
};

// Arena allocation: raw bytes (no alignment), and arrays aligned to 8 bytes.
// Null when the arena has no room.
char* html_arena_bytes(HtmlParser* p, size_t size);
void* html_arena_array(HtmlParser* p, size_t size);
// A NUL-terminated copy of [data, data + size); the empty string when there
// is no room.
const char* html_arena_string(HtmlParser* p, const char* data, size_t size);
const char* html_arena_string(HtmlParser* p, const char* c_string);

// Growable buffers. A character that finds no room is dropped.
bool html_grow_init(HtmlParser* p, GrowBuffer* b, size_t capacity);
void html_grow_putc(HtmlParser* p, GrowBuffer* b, char c);
void html_grow_append(HtmlParser* p, GrowBuffer* b, const char* data, size_t size);
// Copies [mark, used) into a new arena string and sets used back to mark.
const char* html_grow_take(HtmlParser* p, GrowBuffer* b, size_t mark);

// Creates the arena and the buffers for a text of the given length and
// splits the base URL. False when the arena cannot be had (nothing is then
// left allocated).
bool html_parser_init(HtmlParser* p, const char* text, const char* base);
// Frees the arena of a parser whose result was never handed out.
void html_parser_free(HtmlParser* p);

// List entries; an entry that finds no room is dropped.
void html_add_text(HtmlParser* p, const char* text, const char* label);
void html_add_link_entry(HtmlParser* p, const char* url, const char* text);
void html_add_image_entry(HtmlParser* p, const char* url, const char* alt, int width, int height);
void html_add_header(HtmlParser* p, const char* name, const char* content);

// Fills the result record from a finished parse; its release function frees
// the arena.
void html_parser_result(HtmlParser* p, ParseResult* result);

}  // namespace vorlane::engine
