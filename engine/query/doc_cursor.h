// Document cursors: walks over posting lists in docid order, alone or in
// groups that unite or intersect them. All-hits evaluation (no scores) is
// built on them.
//
// A posting is docid << 7 | score; cursors compare postings by docid only. A
// cursor over one list (kind 0) holds its next posting and the postings
// left; a group cursor (kind 1) holds its group and the group's current
// posting (kCursorEnd at its end). A group keeps its cursors in ascending
// order of their current docids and produces a docid when at least need of
// them show it: need 1 unites, need = members intersects. Each cursor counts
// once per docid, so a union group inside an intersection never stands for
// more than one member.
#pragma once

#include <cstdint>

#include "engine/query/query_term.h"
#include "store/db_files.h"

namespace vorlane::engine {

inline constexpr uint32_t kCursorEnd = 0xFFFFFFFFu;
// A group holds as many cursors as a parse can make elements: every term,
// or every element of one phrase.
inline constexpr int32_t kGroupSlots = kQueryElementSlots;

struct CursorGroup;

struct DocCursor {
  int32_t kind;           // kListCursor or kGroupCursor
  const uint32_t* next;   // kind 0: the next posting
  CursorGroup* group;     // kind 1: the group
  uint32_t value;         // kind 0: postings left; kind 1: the current posting
};
inline constexpr int32_t kListCursor = 0;
inline constexpr int32_t kGroupCursor = 1;

struct CursorGroup {
  DocCursor slots[kGroupSlots];
  int32_t used;  // slots in use, in docid order
  int32_t need;  // cursors that must show a docid
};

inline uint32_t posting_docid(uint32_t posting) { return posting >> 7; }

// A cursor over a term record's postings (record null: an empty one).
DocCursor list_cursor(const uint32_t* record);
// A cursor over a group, not yet advanced (DocCursorAdvance).
DocCursor group_cursor(CursorGroup* group);

// The cursor's current posting, kCursorEnd at its end.
uint32_t DocCursorPeek(const DocCursor* c);
// The current posting; the cursor moves on.
uint32_t DocCursorNext(DocCursor* c);
// Adds a copy of c in docid order, after cursors of equal docid; a cursor at
// its end, or one that finds the group full, is not added (0; else 1).
int DocCursorInsert(CursorGroup* group, const DocCursor* c);
// Moves slots from..to (inclusive) by places (negative: towards slot 0).
void DocCursorShift(DocCursor* slots, int32_t from, int32_t to, int32_t by);
// Sets a group cursor's current posting to the group's next document.
void DocCursorAdvance(DocCursor* group_cursor);
// Moves c on while its current docid is below docid; 1 when it then shows
// docid.
int DocCursorSkipTo(uint32_t docid, DocCursor* c);
// Builds the group of a phrase from its n elements; returns the sum of the
// posting counts put in. A phrase whose required elements include one that
// is not indexed matches nothing: its group is left empty (*empty_required
// set, when given).
int64_t DocCursorPhrase(QueryTerm* elements, int32_t n, DocCursor* group_cursor, bool* empty_required = nullptr);

}  // namespace vorlane::engine
