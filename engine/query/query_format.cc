#include "engine/query/query_format.h"

#include <cstring>

namespace vorlane::engine {

namespace {

uint32_t get_word(const uint8_t* p) {
  uint32_t w;
  memcpy(&w, p, 4);
  return w;
}

void put_word(uint8_t* p, uint32_t w) { memcpy(p, &w, 4); }

// The length of the NUL-terminated string at offset, or -1 when no NUL comes
// before limit.
int64_t string_within(const uint8_t* base, size_t offset, size_t limit) {
  if (offset >= limit) return -1;
  const void* nul = memchr(base + offset, 0, limit - offset);
  if (nul == nullptr) return -1;
  return static_cast<const uint8_t*>(nul) - (base + offset);
}

}  // namespace

// ---- requests ----

const char* request_check_text(RequestCheck c) {
  switch (c) {
    case RequestCheck::ok: return nullptr;
    case RequestCheck::bad_type: return "bad request type";
    case RequestCheck::short_buffer: return "ilen < size in header";
    case RequestCheck::no_terminator: return "ibuf not ending in null terminated string";
    case RequestCheck::string_overflow: return "ibuf string overflow or corruption";
  }
  return "bad request";
}

RequestCheck read_query_request(const uint8_t* buffer, size_t length, QueryRequest* out) {
  *out = QueryRequest{};
  if (buffer == nullptr || length < 8) return RequestCheck::short_buffer;
  const uint32_t size = get_word(buffer);
  const uint32_t type = get_word(buffer + 4);
  if (type != kRequestQuery && type != kRequestDemote && type != kRequestSingle &&
      type != kRequestDated) {
    return RequestCheck::bad_type;
  }
  if (size > length) return RequestCheck::short_buffer;
  if (size == 0 || buffer[size - 1] != 0) return RequestCheck::no_terminator;
  out->size = size;
  out->type = type;
  size_t text_at;
  if (type == kRequestDemote) {
    if (size < sizeof(DemoteRequestHeader) + 1) return RequestCheck::string_overflow;
    DemoteRequestHeader h;
    memcpy(&h, buffer, sizeof h);
    // The pairs and at least the text's NUL lie inside the size.
    if (uint64_t{sizeof h} + uint64_t{h.excepted} * sizeof(ExceptedDoc) >= size) {
      return RequestCheck::string_overflow;
    }
    out->demote_value = h.demote_value;
    out->mode = h.mode;
    out->window_low = h.window_low;
    out->window_high = h.window_high;
    out->excepted_count = h.excepted;
    out->excepted = buffer + sizeof h;
    out->start = 1;
    text_at = sizeof h + size_t{h.excepted} * sizeof(ExceptedDoc);
  } else {
    if (size < sizeof(QueryRequestHeader) + 1) return RequestCheck::string_overflow;
    QueryRequestHeader h;
    memcpy(&h, buffer, sizeof h);
    out->demote_value = h.demote_value;
    out->mode = h.mode;
    out->start = static_cast<int32_t>(h.start);
    out->hits = static_cast<int32_t>(h.hits);
    out->window_low = h.window_low;
    out->window_high = h.window_high;
    text_at = sizeof h;
  }
  // The byte at size - 1 is 0, so the text ends inside the size.
  const int64_t text_length = string_within(buffer, text_at, size);
  if (text_length < 0) return RequestCheck::string_overflow;
  const size_t collection_at = text_at + static_cast<size_t>(text_length) + 1;
  const int64_t collection_length = string_within(buffer, collection_at, size);
  if (collection_length < 0) return RequestCheck::string_overflow;
  out->text = reinterpret_cast<const char*>(buffer + text_at);
  out->text_length = static_cast<size_t>(text_length);
  out->collection = reinterpret_cast<const char*>(buffer + collection_at);
  out->collection_length = static_cast<size_t>(collection_length);
  return RequestCheck::ok;
}

ExceptedDoc request_excepted(const QueryRequest& r, uint32_t i) {
  ExceptedDoc d{0, 0};
  if (i < r.excepted_count) memcpy(&d, r.excepted + size_t{i} * sizeof d, sizeof d);
  return d;
}

uint32_t write_query_request(uint8_t* out, size_t capacity, const QueryRequestFields& f) {
  if (out == nullptr) return 0;
  memset(out, 0, capacity);
  const size_t text_length = f.text ? strnlen(f.text, f.text_length) : 0;
  const size_t collection_length = f.collection ? strnlen(f.collection, f.collection_length) : 0;
  const bool demote = f.type == kRequestDemote;
  const uint64_t header = demote ? sizeof(DemoteRequestHeader) + uint64_t{f.excepted_count} * sizeof(ExceptedDoc)
                                 : sizeof(QueryRequestHeader);
  const uint64_t used = header + text_length + 1 + collection_length + 1;
  const uint64_t size = f.padded_size ? f.padded_size : used;
  if (used > size || size > capacity || size > 0xFFFFFFFFu) return 0;
  if (demote) {
    DemoteRequestHeader h{};
    h.size = static_cast<uint32_t>(size);
    h.type = f.type;
    h.one = 1;
    h.demote_value = f.demote_value;
    h.mode = f.mode;
    h.window_low = f.window_low;
    h.window_high = f.window_high;
    h.excepted = f.excepted_count;
    memcpy(out, &h, sizeof h);
    if (f.excepted_count) memcpy(out + sizeof h, f.excepted, size_t{f.excepted_count} * sizeof(ExceptedDoc));
  } else {
    QueryRequestHeader h{};
    h.size = static_cast<uint32_t>(size);
    h.type = f.type;
    h.one = 1;
    h.demote_value = f.demote_value;
    h.mode = f.mode;
    h.start = static_cast<uint32_t>(f.start);
    h.hits = static_cast<uint32_t>(f.hits);
    h.window_low = f.window_low;
    h.window_high = f.window_high;
    memcpy(out, &h, sizeof h);
  }
  uint8_t* p = out + header;
  if (text_length) memcpy(p, f.text, text_length);
  p += text_length + 1;
  if (collection_length) memcpy(p, f.collection, collection_length);
  return static_cast<uint32_t>(size);
}

// ---- responses: reading ----

bool read_query_response(const uint8_t* buffer, size_t area_size, QueryResponseView* out) {
  *out = QueryResponseView{};
  if (buffer == nullptr || area_size < sizeof(QueryResponseHeader)) return false;
  QueryResponseHeader h;
  memcpy(&h, buffer, sizeof h);
  if (h.size > area_size || h.merge_flag > 1) return false;
  QueryResponseView v;
  v.base = buffer;
  v.complete = h.size != 0;
  v.limit = v.complete ? h.size : area_size;
  v.type = h.type;
  v.merge_flag = h.merge_flag;
  v.start = h.start;
  v.hit_count = h.hit_count;
  v.documents = h.documents;
  v.total = h.total;
  uint64_t pos = sizeof h + uint64_t{h.hit_count} * sizeof(Hit);
  if (pos > v.limit) return false;
  if (h.type == kResponseDated) {
    v.dates_at = static_cast<size_t>(pos);
    pos += uint64_t{h.hit_count} * sizeof(din_entry);
    if (pos > v.limit) return false;
  }
  if (pos + 4 > v.limit) return false;
  v.term_count = get_word(buffer + pos);
  v.words_at = static_cast<size_t>(pos + 4);
  pos = v.words_at + uint64_t{v.term_count} * 4;
  if (pos > v.limit) return false;
  if (v.merge_flag) {
    v.blocks_at = static_cast<size_t>(pos);
    for (uint32_t j = 0; j < v.term_count; ++j) {
      if (pos + 4 > v.limit) return false;
      const uint32_t c = get_word(buffer + pos);
      pos += 4 + uint64_t{c} * sizeof(Hit);
      if (pos > v.limit) return false;
    }
  }
  v.strings_at = static_cast<size_t>(pos);
  for (uint32_t j = 0; j < v.term_count; ++j) {
    const int64_t n = string_within(buffer, static_cast<size_t>(pos), v.limit);
    if (n < 0) return false;
    pos += static_cast<uint64_t>(n) + 1;
  }
  v.query_at = static_cast<size_t>(pos);
  int64_t n = string_within(buffer, v.query_at, v.limit);
  if (n < 0) return false;
  v.collection_at = v.query_at + static_cast<size_t>(n) + 1;
  n = string_within(buffer, v.collection_at, v.limit);
  if (n < 0) return false;
  v.end = v.collection_at + static_cast<size_t>(n) + 1;
  if (v.complete && v.end != h.size) return false;
  *out = v;
  return true;
}

size_t response_extent(const uint8_t* buffer, size_t area_size) {
  QueryResponseView v;
  if (!read_query_response(buffer, area_size, &v)) return area_size;
  return v.complete ? v.limit : v.end;
}


din_entry response_date(const QueryResponseView& v, uint32_t i) {
  din_entry e{0, 0};
  if (v.dates_at && i < v.hit_count) memcpy(&e, v.base + v.dates_at + size_t{i} * sizeof e, sizeof e);
  return e;
}

uint32_t response_term_word(const QueryResponseView& v, uint32_t j) {
  return j < v.term_count ? get_word(v.base + v.words_at + size_t{j} * 4) : 0;
}

bool response_next_term(const QueryResponseView& v, ResponseTermCursor* c, ResponseTerm* t) {
  if (c->next >= v.term_count) return false;
  if (c->next == 0) {
    c->block_at = v.blocks_at;
    c->string_at = v.strings_at;
  }
  ResponseTerm r;
  r.index = c->next;
  r.word = response_term_word(v, c->next);
  if (v.merge_flag) {
    r.block_count = get_word(v.base + c->block_at);
    r.block_at = c->block_at + 4;
    c->block_at = r.block_at + size_t{r.block_count} * sizeof(Hit);
  }
  r.text = reinterpret_cast<const char*>(v.base + c->string_at);
  r.text_length = strlen(r.text);  // the reader found its NUL inside the limit
  c->string_at += r.text_length + 1;
  ++c->next;
  *t = r;
  return true;
}


// ---- responses: writing ----

namespace {

// Does the writer have room for need bytes from pos? Notes the need otherwise.
bool room(ResponseWriter* w, uint64_t need_end) {
  if (need_end <= w->capacity) return true;
  w->want = static_cast<size_t>(need_end > SIZE_MAX ? SIZE_MAX : need_end);
  return false;
}

// The bytes every section after the current one takes at least (its counts
// 0 and its strings empty), so that a response that stops anywhere still
// holds every count and NUL a reader looks for.
uint64_t tail_after(const ResponseWriter* w, bool words, uint32_t terms, uint32_t blocks_open,
                    uint32_t strings_done) {
  uint64_t t = 0;
  if (!words) {
    t += 4;  // T
  } else if (w->merge_flag) {
    t += uint64_t{terms - blocks_open} * 4;
  }
  t += (terms - strings_done);
  return t;
}

uint64_t ends_after(const ResponseWriter* w) { return 2 - static_cast<uint64_t>(w->tail); }

// Zeroes what a reader looks for after the sections written so far: the
// counts of the sections still to come and the NULs of their strings (for a
// type 7 response whose hits are in, its date entries too). Only these bytes
// are cleared, never the whole area, so a response that stops anywhere still
// reads as what it holds followed by empty sections.
void clear_tail(ResponseWriter* w) {
  if (w->capacity == 0 || w->pos >= w->capacity) return;
  uint64_t tail;
  if (!w->words_done) {
    tail = 4 + 2;
    if (w->type == kResponseDated && !w->dates_done) tail += uint64_t{w->hit_count} * sizeof(din_entry);
  } else {
    tail = w->merge_flag ? uint64_t{w->term_count - w->blocks_done} * 4 : 0;
    tail += (w->term_count - w->strings_done) + ends_after(w);
  }
  const uint64_t left = w->capacity - w->pos;
  memset(w->base + w->pos, 0, static_cast<size_t>(tail < left ? tail : left));
}

bool dates_pending(const ResponseWriter* w) {
  return w->type == kResponseDated && w->hit_count > 0 && !w->dates_done;
}

}  // namespace

bool response_begin(ResponseWriter* w, uint8_t* area, size_t capacity, uint32_t type,
                    uint32_t merge_flag, uint32_t start, uint32_t documents) {
  *w = ResponseWriter{};
  if (area == nullptr) return false;
  memset(area, 0, capacity < kMinResponseSize ? capacity : kMinResponseSize);
  w->base = area;
  w->capacity = capacity;
  w->type = type;
  w->merge_flag = merge_flag ? 1 : 0;
  if (capacity < kMinResponseSize) {
    w->want = kMinResponseSize;
    w->capacity = 0;  // nothing more is written
    return false;
  }
  QueryResponseHeader h{};
  h.type = type;
  h.merge_flag = w->merge_flag;
  h.start = start;
  h.documents = documents;
  memcpy(area, &h, sizeof h);
  w->pos = sizeof h;
  clear_tail(w);
  return true;
}

void response_set_total(ResponseWriter* w, int32_t total) {
  if (w->capacity) put_word(w->base + offsetof(QueryResponseHeader, total), static_cast<uint32_t>(total));
}

void response_set_start(ResponseWriter* w, uint32_t start) {
  if (w->capacity) put_word(w->base + offsetof(QueryResponseHeader, start), start);
}

uint8_t* response_hit_area(ResponseWriter* w, uint32_t n) {
  if (w->capacity == 0 || w->hit_count != 0 || w->words_done) return nullptr;
  const uint64_t dates = w->type == kResponseDated ? uint64_t{n} * sizeof(din_entry) : 0;
  if (!room(w, sizeof(QueryResponseHeader) + uint64_t{n} * sizeof(Hit) + dates + 4 + 2)) return nullptr;
  return w->base + sizeof(QueryResponseHeader);
}

void response_commit_hits(ResponseWriter* w, uint32_t n) {
  if (w->capacity == 0 || w->hit_count != 0 || w->words_done) return;
  w->hit_count = n;
  w->pos = sizeof(QueryResponseHeader) + size_t{n} * sizeof(Hit);
  put_word(w->base + offsetof(QueryResponseHeader, hit_count), n);
  clear_tail(w);
}

uint8_t* response_date_area(ResponseWriter* w) {
  if (w->capacity == 0 || w->type != kResponseDated || w->dates_done || w->words_done) return nullptr;
  if (!room(w, w->pos + uint64_t{w->hit_count} * sizeof(din_entry) + 4 + 2)) return nullptr;
  return w->base + w->pos;
}

void response_commit_dates(ResponseWriter* w) {
  if (w->capacity == 0 || w->type != kResponseDated || w->dates_done || w->words_done) return;
  w->pos += size_t{w->hit_count} * sizeof(din_entry);
  w->dates_done = true;
  clear_tail(w);
}

bool response_put_term_words(ResponseWriter* w, const uint32_t* words, uint32_t n) {
  if (w->capacity == 0 || w->words_done || dates_pending(w)) return false;
  if (w->type == kResponseDated && !w->dates_done) w->dates_done = true;  // no hits: no entries
  if (!room(w, w->pos + 4 + uint64_t{n} * 4 + tail_after(w, true, n, 0, 0) + 2)) return false;
  if (n) memcpy(w->base + w->pos + 4, words, size_t{n} * 4);
  put_word(w->base + w->pos, n);
  w->pos += 4 + size_t{n} * 4;
  w->term_count = n;
  w->words_done = true;
  clear_tail(w);
  return true;
}

bool response_open_block(ResponseWriter* w) {
  if (w->capacity == 0 || !w->merge_flag || !w->words_done || w->blocks_done >= w->term_count) return false;
  if (!room(w, w->pos + 4 + tail_after(w, true, w->term_count, w->blocks_done + 1, 0) + 2)) return false;
  put_word(w->base + w->pos, 0);
  w->block_count_at = w->pos;
  w->pos += 4;
  ++w->blocks_done;
  clear_tail(w);
  return true;
}

uint8_t* response_block_area(ResponseWriter* w, uint32_t n) {
  if (w->capacity == 0 || w->block_count_at == 0) return nullptr;
  if (!room(w, w->pos + uint64_t{n} * sizeof(Hit) + tail_after(w, true, w->term_count, w->blocks_done, 0) + 2)) {
    return nullptr;
  }
  return w->base + w->pos;
}

void response_commit_block_hits(ResponseWriter* w, uint32_t n) {
  if (w->capacity == 0 || w->block_count_at == 0) return;
  w->pos += size_t{n} * sizeof(Hit);
  put_word(w->base + w->block_count_at, get_word(w->base + w->block_count_at) + n);
  clear_tail(w);
}

bool response_put_string(ResponseWriter* w, const char* text, size_t length) {
  if (w->capacity == 0 || !w->words_done || w->tail >= 2) return false;
  if (w->merge_flag && w->blocks_done < w->term_count) return false;
  const size_t n = text ? strnlen(text, length) : 0;
  const bool term = w->strings_done < w->term_count;
  const uint64_t later = term ? (w->term_count - w->strings_done - 1) + 2 : ends_after(w) - 1;
  if (!room(w, w->pos + uint64_t{n} + 1 + later)) return false;
  w->block_count_at = 0;
  if (n) memcpy(w->base + w->pos, text, n);
  w->base[w->pos + n] = 0;
  w->pos += n + 1;
  if (term) {
    ++w->strings_done;
  } else {
    ++w->tail;
  }
  clear_tail(w);
  return true;
}

bool response_finish(ResponseWriter* w) {
  if (w->capacity == 0 || w->tail != 2 || w->strings_done != w->term_count) return false;
  if (w->pos > w->capacity || w->pos > 0xFFFFFFFFu) return false;
  put_word(w->base, static_cast<uint32_t>(w->pos));
  w->finished = true;
  return true;
}

}  // namespace vorlane::engine
