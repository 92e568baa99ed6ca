#include "linguistics/fst/net_dump.h"

#include "linguistics/fst/net_reader.h"

namespace vorlane {

int32_t fst_dump_arc_to(std::FILE* out, uint8_t byte, bool after_instr, int32_t net, const FSM* fsm) {
  const FstNet* n = net >= 0 && static_cast<uint32_t>(net) < fsm->net_count ? &fsm->nets[net] : nullptr;
  uint8_t eps_bound = n ? n->epsilon_bound : 0;
  uint8_t instr = n ? n->instr_label : 0;
  uint8_t label = byte & kArcLabelMask;
  int32_t is_instr = 0;
  if (after_instr) {
    uint32_t v = static_cast<uint8_t>(byte - fsm->alphabase);
    std::fprintf(out, "U.%u.%u", v >> 4, (v >> 2) & 3);
  } else if (byte == 0) {
    std::fprintf(out, "BUFTERM");
  } else if (n && label == instr) {
    std::fprintf(out, "INSTR");
    is_instr = 1;
  } else if (label == (fsm->esc & kArcLabelMask)) {
    std::fprintf(out, "ESC");
  } else if (label == fsm->eps_label) {
    std::fprintf(out, "EPS");
  } else if (label == fsm->table_label) {
    std::fprintf(out, "TABLELABEL");
  } else if (label == fsm->nid_label) {
    std::fprintf(out, "NID");
  } else if (label == fsm->end_symbol) {
    std::fprintf(out, "TB");
  } else if (label == fsm->tagsep) {
    std::fprintf(out, "TAGSEP");
  } else if (label >= eps_bound) {
    uint32_t number = label >= fsm->alphabase ? (label - fsm->alphabase) / 4u : 0xFFFFFFFFu;
    int ch = number < fsm->char_table_count ? fsm->at(fsm->char_table)[2 * number + 1] : 0;
    if (ch < 32) {
      std::fprintf(out, "(%d)", label);
    } else {
      std::fprintf(out, "%c", ch);
    }
  } else {
    std::fprintf(out, "DIACRITIC(%d)", label);
  }
  if (!after_instr && byte != 0) {
    if (byte & kArcMore) std::fprintf(out, "*");
    if (byte & kArcFinal) std::fprintf(out, "$");
  }
  return is_instr;
}

void fst_dump_path_to(std::FILE* out, uint32_t location, int32_t steps, int32_t net, const FSM* fsm) {
  NetReader reader(fsm);
  bool after = false;
  for (int32_t i = 0; i <= steps; ++i) {
    if (!reader.follow(&location)) break;
    uint8_t b = reader.byte(location);
    if (b == 0) {
      std::fprintf(out, " FAILPTR\n");
      return;
    }
    std::fprintf(out, " ");
    after = fst_dump_arc_to(out, b, after, net, fsm) != 0;
    if ((b & kArcLabelMask) == fsm->table_label) break;
    ++location;
  }
  std::fprintf(out, "\n");
}

void fst_dump_coded_to(std::FILE* out, const uint8_t* coded, int32_t length, int32_t net, const FSM* fsm) {
  bool after = false;
  for (int32_t i = 0; i < length; ++i) {
    if (coded[i] == 0) {
      std::fprintf(out, "BUFTERM\n");
      return;
    }
    after = fst_dump_arc_to(out, coded[i], after, net, fsm) != 0;
    std::fprintf(out, " ");
  }
  std::fprintf(out, "...\n");
}

int32_t fst_dump_arc(uint8_t byte, bool after_instr, int32_t net, const FSM* fsm) {
  return fst_dump_arc_to(stdout, byte, after_instr, net, fsm);
}
void fst_dump_path(uint32_t location, int32_t steps, int32_t net, const FSM* fsm) {
  fst_dump_path_to(stdout, location, steps, net, fsm);
}
void fst_dump_coded(const uint8_t* coded, int32_t length, int32_t net, const FSM* fsm) {
  fst_dump_coded_to(stdout, coded, length, net, fsm);
}

}  // namespace vorlane
