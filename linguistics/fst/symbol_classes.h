// Queries on the symbol classes of an FSM: classes and members by name,
// symbol names, the special symbols of "*DIACRITICS*" and the two tag tables
// built from the class TAGMODE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linguistics/fst/fsm.h"

namespace vorlane {

int32_t fst_tag_count(const FSM* fsm);
// Writes every TAGMODE member's name, NUL-terminated, one after the other into
// names and its code into codes, in class order; the number of tags, or -12
// when a name or a code does not fit. 0 without TAGMODE.
int32_t fst_tag_list(const FSM* fsm, uint16_t* codes, int32_t code_count, char* names, int32_t names_size);

// Symbol classes.
// Index of the class called name (length bytes), or -1.
int32_t fst_find_class(const FSM* fsm, const char* name, size_t length);
// Code of the member called name in class c, or 0.
uint16_t fst_member_code(const FSM* fsm, int32_t c, const char* name, size_t length);
// Length of the name at name_index, or -1 for an index that names nothing.
int32_t fst_name_length(const FSM* fsm, uint32_t name_index);
// Copies the name at name_index with a NUL into buffer: its length, or -12
// when length + 1 exceeds size, -2 for an index that names nothing.
int32_t fst_symbol_name(const FSM* fsm, uint32_t name_index, char* buffer, int32_t size);

// Tag lookups through the two tag tables.
uint16_t fst_tag_code(const FSM* fsm, const char* name, size_t length);
const FstTagSlot* fst_tag_name(const FSM* fsm, uint16_t code);

// The hash of the tag table by name; bytes are taken as signed values, as the
// tables in use were built.
uint32_t fst_tag_name_hash(const char* name, size_t length);

// Load steps of the reader: the special symbols, and the tag tables (0 or -3).
void fst_read_specials(FSM* fsm);
int32_t fst_build_tag_tables(FSM* fsm);

}  // namespace vorlane
