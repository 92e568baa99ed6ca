#include "engine/query/doc_cursor.h"

#include <cstring>

namespace vorlane::engine {

DocCursor list_cursor(const uint32_t* record) {
  DocCursor c{};
  c.kind = kListCursor;
  if (record) {
    c.next = record + 4;
    c.value = rec_full_count(record);
  }
  return c;
}

DocCursor group_cursor(CursorGroup* group) {
  DocCursor c{};
  c.kind = kGroupCursor;
  c.group = group;
  c.value = kCursorEnd;
  return c;
}

uint32_t DocCursorPeek(const DocCursor* c) {
  if (c->kind == kGroupCursor) return c->value;
  return c->value > 0 ? *c->next : kCursorEnd;
}

uint32_t DocCursorNext(DocCursor* c) {
  const uint32_t current = DocCursorPeek(c);
  if (current == kCursorEnd) return current;
  if (c->kind == kGroupCursor) {
    DocCursorAdvance(c);
  } else {
    ++c->next;
    --c->value;
  }
  return current;
}

void DocCursorShift(DocCursor* slots, int32_t from, int32_t to, int32_t by) {
  if (from > to || by == 0) return;
  std::memmove(static_cast<void*>(slots + from + by), slots + from, sizeof(DocCursor) * (to - from + 1));
}

int DocCursorInsert(CursorGroup* group, const DocCursor* c) {
  const uint32_t posting = DocCursorPeek(c);
  if (posting == kCursorEnd || group->used >= kGroupSlots) return 0;
  const uint32_t docid = posting_docid(posting);
  int32_t at = group->used;
  while (at > 0 && posting_docid(DocCursorPeek(&group->slots[at - 1])) > docid) --at;
  DocCursorShift(group->slots, at, group->used - 1, 1);
  group->slots[at] = *c;
  ++group->used;
  return 1;
}

namespace {

// Moves a cursor past every posting of docid.
void pass_docid(DocCursor* c, uint32_t docid) {
  for (;;) {
    const uint32_t p = DocCursorPeek(c);
    if (p == kCursorEnd || posting_docid(p) != docid) return;
    DocCursorNext(c);
  }
}

}  // namespace

void DocCursorAdvance(DocCursor* group_cursor) {
  CursorGroup* g = group_cursor->group;
  for (;;) {
    if (g->used == 0) {
      group_cursor->value = kCursorEnd;
      return;
    }
    const uint32_t first = DocCursorPeek(&g->slots[0]);
    const uint32_t docid = posting_docid(first);
    // The cursors showing docid lead the group; each counts once. Each in
    // turn is taken from the front, moved past docid and put back in order:
    // it then lies beyond every cursor still showing docid, so the group
    // ends as if all had been taken out first and put back in turn.
    int32_t k = 0;
    while (k < g->used && posting_docid(DocCursorPeek(&g->slots[k])) == docid) ++k;
    for (int32_t i = 0; i < k; ++i) {
      DocCursor moved = g->slots[0];
      DocCursorShift(g->slots, 1, g->used - 1, -1);
      --g->used;
      pass_docid(&moved, docid);
      DocCursorInsert(g, &moved);
    }
    if (k >= g->need) {
      group_cursor->value = first;
      return;
    }
  }
}

int DocCursorSkipTo(uint32_t docid, DocCursor* c) {
  for (;;) {
    const uint32_t p = DocCursorPeek(c);
    if (p == kCursorEnd) return 0;
    if (posting_docid(p) >= docid) return posting_docid(p) == docid ? 1 : 0;
    DocCursorNext(c);
  }
}

int64_t DocCursorPhrase(QueryTerm* elements, int32_t n, DocCursor* group_cursor, bool* empty_required) {
  CursorGroup* g = group_cursor->group;
  g->used = 0;
  g->need = 1;
  if (empty_required) *empty_required = false;
  char mark = kMarkOptional;
  for (int32_t i = 0; i < n && elements[i].count != 0; ++i) {
    QueryTerm& e = elements[i];
    if (e.mark != kMarkRequired) continue;
    // A list cut at the posting limit cannot decide an intersection.
    if (e.record && rec_full_count(e.record) < rec_full_docf(e.record)) e.mark = kMarkOptional;
    else mark = kMarkRequired;
  }
  int64_t total = 0;
  int32_t members = 0;
  bool missing = false;
  for (int32_t i = 0; i < n && elements[i].count != 0; ++i) {
    const QueryTerm& e = elements[i];
    if (e.mark != mark) continue;
    if (!e.record) {
      missing = true;
      continue;
    }
    ++members;
    DocCursor c = list_cursor(e.record);
    if (DocCursorInsert(g, &c)) total += rec_full_count(e.record);
  }
  g->need = mark == kMarkRequired ? members : 1;
  if (mark == kMarkRequired && missing) {
    g->used = 0;
    if (empty_required) *empty_required = true;
    return 0;
  }
  if (g->need < 1) g->need = 1;
  return total;
}

}  // namespace vorlane::engine
