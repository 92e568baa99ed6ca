// The second entry points of the interface: each forwards unchanged.
#include "linguistics/fst/fst_interface.h"

namespace vorlane {

void* FstOpen(const char* path) { return fst_open(path); }
void FstClose(void* fsm) { fst_close(fsm); }
int32_t FstInfo(char* buffer, int32_t size, const void* fsm) { return fst_info(buffer, size, fsm); }
int32_t FstVersion(char* buffer, int32_t size, const void* fsm) { return fst_version(buffer, size, fsm); }
uint32_t FstHeaderWord(const void* fsm) { return fst_header_word(fsm); }
uint32_t FstCapabilities(const void* fsm) { return fst_capabilities(fsm); }
int32_t FstStatus(const void* object) { return fst_status(object); }
int32_t FstObjectStatus(const void* object) { return fst_status(object); }
int32_t FstErrorMessage(int32_t code, char* buffer, int32_t size) { return fst_error_message(code, buffer, size); }
int32_t FstProperty(const void* fsm) { return fst_property(fsm); }
int32_t FstLanguage(const void* fsm) { return fst_language(fsm); }
int32_t FstLibraryVersion(char* buffer, int32_t size) { return fst_library_version(buffer, size); }
void* FstErrorHandle(int32_t code) { return fst_error_handle(code); }
void* FstOpenHeader(const char* path) { return fst_open_header(path); }
void FstCloseHeader(void* header) { fst_close_header(header); }
int32_t FstCompareHeaders(const void* a, const void* b) { return fst_compare_headers(a, b); }

}  // namespace vorlane
