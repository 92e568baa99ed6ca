// The 57 functions of the sorn module, in the order of its method table.
//
// Each is defined in the file of the component it belongs to; a method whose
// code is left out of the build fails the link of the library.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorlane::engine {

#define VORLANE_SORN_METHOD(name) PyObject* sorn_##name(PyObject* self, PyObject* args);
VORLANE_SORN_METHOD(cache_init)
VORLANE_SORN_METHOD(checksum)
VORLANE_SORN_METHOD(classification_stats)
VORLANE_SORN_METHOD(classify_build_table)
VORLANE_SORN_METHOD(classify_doc)
VORLANE_SORN_METHOD(close_journal)
VORLANE_SORN_METHOD(convert_to_host_format)
VORLANE_SORN_METHOD(convert_to_net_format)
VORLANE_SORN_METHOD(copy_from_file)
VORLANE_SORN_METHOD(copy_to_file)
VORLANE_SORN_METHOD(crypt)
VORLANE_SORN_METHOD(ctp_process)
VORLANE_SORN_METHOD(datasize)
VORLANE_SORN_METHOD(delete)
VORLANE_SORN_METHOD(determine_top_lang)
VORLANE_SORN_METHOD(dirdepth)
VORLANE_SORN_METHOD(free_lid)
VORLANE_SORN_METHOD(get_disk_free)
VORLANE_SORN_METHOD(get_language_name)
VORLANE_SORN_METHOD(gethostid)
VORLANE_SORN_METHOD(getprio)
VORLANE_SORN_METHOD(get_stem)
VORLANE_SORN_METHOD(hash1)
VORLANE_SORN_METHOD(hash2)
VORLANE_SORN_METHOD(htmlquote)
VORLANE_SORN_METHOD(idoc)
VORLANE_SORN_METHOD(init_lid)
VORLANE_SORN_METHOD(init_stopword_table)
VORLANE_SORN_METHOD(init_title_cache)
VORLANE_SORN_METHOD(is_stop_word)
VORLANE_SORN_METHOD(lang_init)
VORLANE_SORN_METHOD(list)
VORLANE_SORN_METHOD(map_titles)
VORLANE_SORN_METHOD(merge_db)
VORLANE_SORN_METHOD(merge_delmap)
VORLANE_SORN_METHOD(ntlm)
VORLANE_SORN_METHOD(numdocs)
VORLANE_SORN_METHOD(open_db)
VORLANE_SORN_METHOD(parse_html)
VORLANE_SORN_METHOD(parse_plain)
VORLANE_SORN_METHOD(physavail)
VORLANE_SORN_METHOD(physsize)
VORLANE_SORN_METHOD(conflate_text)
VORLANE_SORN_METHOD(qual_init)
VORLANE_SORN_METHOD(query)
VORLANE_SORN_METHOD(query_allhits)
VORLANE_SORN_METHOD(quit_db)
VORLANE_SORN_METHOD(reap_query_buffers)
VORLANE_SORN_METHOD(save_db)
VORLANE_SORN_METHOD(set_log_handler)
VORLANE_SORN_METHOD(setprio)
VORLANE_SORN_METHOD(sync)
VORLANE_SORN_METHOD(titles)
VORLANE_SORN_METHOD(title_cache_stat)
VORLANE_SORN_METHOD(urlquote)
VORLANE_SORN_METHOD(urlunquote)
VORLANE_SORN_METHOD(xmlquote)
#undef VORLANE_SORN_METHOD

}  // namespace vorlane::engine
