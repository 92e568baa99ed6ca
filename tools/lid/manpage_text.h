// Running text from Debian's manual pages (gzipped roff, UTF-8): the source
// of the language models and of their held-out evaluation.
//
// The pages of a package are split for good by a hash of their file name:
// about one page in five is held out, and the model builder never reads a
// held-out page. The text of a page is its paragraphs of running text:
// requests, comments, no-fill blocks (examples, synopses), tables and macro
// definitions are dropped, escapes are resolved to the characters they stand
// for, and a paragraph is cut into sentences.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vorlane::tools {

// The gzipped man pages that a Debian package installs under /usr/share/man
// (from dpkg-query -L), sorted; symbolic links are left out. Empty when the
// package is not installed.
std::vector<std::string> package_man_pages(const std::string& package);

// True when the page (by the hash of its file name, without directories)
// belongs to the held-out set.
bool is_held_out_page(const std::string& path);

// Reads and decompresses a gzip file; false when it cannot be read.
bool read_gzip_file(const std::string& path, std::string* out);

// The paragraphs of running text of a roff source, in UTF-8.
std::vector<std::string> roff_paragraphs(const std::string& roff);

// Cuts a paragraph into sentences (after '.', '!' or '?' and a blank, and
// after the ideographic full stop and the full-width marks), trimmed.
std::vector<std::string> split_sentences(const std::string& paragraph);

// Code points of a UTF-8 text; a malformed byte stands for itself.
std::u32string code_points(const std::string& utf8);

// Number of code points of a UTF-8 text.
size_t utf8_length(const std::string& text);

// Kinds of sentence a language's text may hold.
enum class script_kind { latin, japanese };

// True when the sentence reads as prose of that kind: mostly letters, and for
// Japanese mostly kana and ideographs, for Latin none of them.
bool looks_like_prose(const std::string& sentence, script_kind kind);

// True when the sentence is English (an untranslated paragraph of a
// translated page): at least two, and one in ten, of its words are English
// function words that no other language of the models writes alike, or seven
// words in ten are in the English word list (/usr/share/dict).
bool looks_english(const std::string& sentence);

// The prose sentences of a package's pages of one side of the split (build or
// held out), pages in sorted order, each once, at least min_length code points;
// English sentences are dropped unless keep_english. Stops after max_bytes of
// text (0: no limit).
std::vector<std::string> man_sentences(const std::string& package, bool held_out, script_kind kind,
                                       bool keep_english, size_t min_length, size_t max_bytes);

}  // namespace vorlane::tools
