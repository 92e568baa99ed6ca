// fstc: compiles transducer files from text lists.
//
//   fstc [--kind KIND] [--tables N] [--no-end] [--language N] [--info TEXT] INPUT OUTPUT
//
// KIND (default: OUTPUT's extension) and the lines of INPUT (bytes, one
// entry a line; empty lines and lines beginning with '#' are skipped):
//   is, ds   stemmer (functions 12 and 27): "word<TAB>analysis", or "word"
//            alone for an identity entry;
//   tok      tokenizer (function 28): "chunk<TAB>token<TAB>token...", the
//            tokens written with the token boundary between them;
//   npr      phrase grouper (functions 62 and 63): "[Tag][Tag]...<TAB>output";
//   clg      class lexicon and guesser (functions 60 and 61):
//            "word<TAB>Class Class ...".
// --tables N puts the arcs of states with at least N arcs into tables.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/fst/fst_pairs.h"
#include "tools/fst/fst_writer.h"

namespace {

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t stop = line.find(sep, start);
    fields.push_back(line.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    if (stop == std::string::npos) return fields;
    start = stop + 1;
  }
}

int usage() {
  std::cerr << "usage: fstc [--kind is|ds|tok|npr|clg] [--tables N] [--no-end] [--language N] [--info TEXT] "
               "INPUT OUTPUT\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vorlane::fstw;
  PairOptions options;
  options.table_threshold = 16;
  std::string kind, input, output;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--kind" && i + 1 < argc) {
      kind = argv[++i];
    } else if (arg == "--tables" && i + 1 < argc) {
      options.table_threshold = std::atoi(argv[++i]);
    } else if (arg == "--no-end") {
      options.end_symbol = false;
    } else if (arg == "--language" && i + 1 < argc) {
      options.language = static_cast<uint8_t>(std::atoi(argv[++i]));
    } else if (arg == "--info" && i + 1 < argc) {
      options.info = argv[++i];
    } else if (input.empty()) {
      input = arg;
    } else if (output.empty()) {
      output = arg;
    } else {
      return usage();
    }
  }
  if (input.empty() || output.empty()) return usage();
  if (kind.empty()) {
    size_t dot = output.rfind('.');
    kind = dot == std::string::npos ? "" : output.substr(dot + 1);
  }

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << "fstc: cannot read " << input << "\n";
    return 1;
  }
  std::vector<Pair> pairs;
  std::vector<WordClasses> classes;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = split(line, '\t');
    if (kind == "clg") {
      WordClasses w{fields[0], {}};
      if (fields.size() > 1) {
        for (const std::string& c : split(fields[1], ' ')) {
          if (!c.empty()) w.classes.push_back(c);
        }
      }
      classes.push_back(w);
    } else if (kind == "tok") {
      std::string tokens;
      for (size_t f = 1; f < fields.size(); ++f) tokens += (f > 1 ? "\x1F" : "") + fields[f];
      pairs.push_back({fields[0], fields.size() > 1 ? tokens : fields[0]});
    } else {
      pairs.push_back({fields[0], fields.size() > 1 ? fields[1] : fields[0]});
    }
  }

  FileDesc desc;
  std::string error;
  bool ok;
  if (kind == "is" || kind == "ds") {
    options.functions = {12, 27};
    ok = compile_pairs(pairs, options, &desc, &error);
  } else if (kind == "tok") {
    options.functions = {28};
    options.token_separator = '\x1F';
    ok = compile_pairs(pairs, options, &desc, &error);
  } else if (kind == "npr") {
    options.functions = {62, 63};
    options.surface_tags = true;
    ok = compile_pairs(pairs, options, &desc, &error);
  } else if (kind == "clg") {
    options.functions = {60, 61};
    ok = compile_classes(classes, options, &desc, &error);
  } else {
    std::cerr << "fstc: unknown kind \"" << kind << "\"\n";
    return 2;
  }
  if (!ok || !fst_write_file(output, desc, &error)) {
    std::cerr << "fstc: " << error << "\n";
    return 1;
  }
  return 0;
}
