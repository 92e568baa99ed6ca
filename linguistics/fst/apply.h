// Transducer application: the forward walk (input side matched, output side
// produced) and the inverse walk (output side matched, input side produced)
// over one net of an FSM, as depth-first searches with a stack of
// backtracking frames in a caller's work area. No allocation: a walk that
// needs more frames reports -13, more coded output -26, and the caller grows
// its areas.
//
// Result styles of apply_fst: 0 stop at the first accepted path (1, else 0);
// 1 raw coded strings; 2 decoded strings (both: count of distinct strings);
// 4 the first decoded string (1); 5 the shortest decoded string (1 when one
// is kept); 6 the first token, 7 every token (with their input end positions
// in the offsets array). apply_fst_inverse collects distinct decoded strings
// (style 2 only). Results go to the client buffer as consecutive
// NUL-terminated strings. With written given, *written is the number of
// client bytes from the start that successful results reached (a walk may
// also leave a duplicate result behind the last one kept).
//
// Codes: -11 a style the walk does not take (at the first accepted path),
// -12 a result or offset does not fit, -13 the frame stack is full, -16 the
// input ends where a symbol is needed (partial flag), -26 the coded output is
// full, -2 a damaged net (a location outside the transition area, a pointer
// to a pointer, or a walk past its step budget, as an epsilon loop would),
// -1993 a frame with a resume point the walk does not use, and the decoder's
// codes.
#pragma once

#include <cstdint>

#include "linguistics/fst/fsm.h"

namespace vorlane {

// One pending alternative; fields in the order of the work area.
struct FstFrame {
  uint8_t arc;
  uint8_t arc2;
  uint16_t flags;
  int32_t resume;
  int32_t in;
  int32_t out;
  uint32_t loc;
  uint32_t loc2;
};

// Resume points.
enum FstResume : int32_t {
  kResumeInputEpsilon = 0,
  kResumeTableExcepted = 1,
  kResumeTableUnexcepted = 2,
  kResumeOutputEpsilon = 3,
  kResumeOutputMatch = 4,
  kResumeOutput = 5,
  kResumeOutputNonid = 6,
  kResumeOperand = 7,
  kResumeNonidEpsilon = 8,
};

inline constexpr int32_t kFstBadResume = -1993;

int32_t apply_fst(const uint8_t* input, uint8_t* coded_out, int32_t coded_size, int32_t net, bool partial,
                  FstFrame* frames, int32_t frame_count, char* client, int32_t client_size, int32_t* offsets,
                  int32_t offsets_length, int32_t style, int32_t decode_arg, const FSM* fsm,
                  int32_t* written = nullptr);

int32_t apply_fst_inverse(const uint8_t* input, uint8_t* coded_out, int32_t coded_size, int32_t net,
                          FstFrame* frames, int32_t frame_count, char* client, int32_t client_size, int32_t style,
                          int32_t decode_arg, const FSM* fsm, int32_t* written = nullptr);

// Applies a flag operand (the arc byte after INSTR) to a register: true on
// success with *flags updated. Features above 7 read 0 and are never set.
bool fst_apply_operand(uint8_t operand, uint8_t alphabase, uint16_t* flags);

// The step budget of a walk over a net of net_bytes for an input of
// input_length bytes; a walk past it reports -2.
uint64_t fst_step_budget(uint32_t net_bytes, uint32_t input_length);

}  // namespace vorlane
