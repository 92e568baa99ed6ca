// Double-byte text expansion. Texts in double-byte character sets have no
// blanks between words, so every two-byte character (a byte with the high
// bit set and the byte after it) becomes a word of its own, and windows of
// three, four and five characters over all the text's two-byte characters
// are appended as extra words, each followed by " ; ". Indexing and querying
// both run texts through it, so the windows must stay exactly as written
// here: the window that would end at the text's last character is never
// written (three characters give no three-character window, four give one).
#pragma once

#include <cstddef>
#include <cstdio>

namespace vorlane::engine {

inline constexpr size_t kCtpPairsSize = 131072;    // two-byte characters collected
inline constexpr size_t kCtpProcessSize = 102400;  // output area of ctp_process

// Writes text (length bytes) into out (size bytes): each two-byte character
// followed by a blank (while it fits), collected into pairs (while
// pairs_size allows; *pairs_length its bytes); a lead byte that is the
// text's last byte is dropped. Runs of bytes below 0x80 are copied while
// they fit, then followed by a blank unless out is empty, full or already
// ends with one. Returns the bytes written (no NUL is added).
size_t ctp_mark_pairs(const char* text, size_t length, char* out, size_t size, char* pairs, size_t pairs_size,
                      size_t* pairs_length);

// Writes the windows of width bytes starting at pairs 0, 2, 4, ... that end
// before the last byte of pairs (pairs_length bytes), each followed by
// " ; ", while a window and its separator fit with a byte to spare. Returns
// the bytes written.
size_t ctp_windows(const char* pairs, size_t pairs_length, size_t width, char* out, size_t size);

// ctp_mark_pairs, then windows of widths 6, 8 and 10 (three, four and five
// characters) when the pairs take at least that many bytes. Returns the
// bytes written into out.
size_t ctp_expand(const char* text, size_t length, char* out, size_t size);

// The whole of in expanded into out: 1, or 0 when the input could not be
// read or held in memory, or the output could not be written.
int ctp_file(FILE* in, FILE* out);

}  // namespace vorlane::engine
