// Debugging printers of nets and coded strings, with the names of the
// special labels. Nothing in the library calls them. The plain entries print
// to standard output; the _to forms to any stream.
#pragma once

#include <cstdint>
#include <cstdio>

#include "linguistics/fst/fsm.h"

namespace vorlane {

// Prints one byte; 1 when it is INSTR (the next byte is an operand).
int32_t fst_dump_arc(uint8_t byte, bool after_instr, int32_t net, const FSM* fsm);
// Prints the arcs along the first branch from a location, at most steps + 1.
void fst_dump_path(uint32_t location, int32_t steps, int32_t net, const FSM* fsm);
// Prints a coded string byte by byte, up to length bytes.
void fst_dump_coded(const uint8_t* coded, int32_t length, int32_t net, const FSM* fsm);

int32_t fst_dump_arc_to(std::FILE* out, uint8_t byte, bool after_instr, int32_t net, const FSM* fsm);
void fst_dump_path_to(std::FILE* out, uint32_t location, int32_t steps, int32_t net, const FSM* fsm);
void fst_dump_coded_to(std::FILE* out, const uint8_t* coded, int32_t length, int32_t net, const FSM* fsm);

}  // namespace vorlane
