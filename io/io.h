// io.h: the toolkit's files, one home per file kind, between the core (which
// reads the expression table) and the programs. For bindings (R, Python):
// include this header, link syn_io and synergy_core, and
//  - write: write_ranked(rows), write_records(recs), write_signif(rows,
//    with_null, with_src, prov) return the file's text, names passed in;
//    out_file(path).write(text) puts it in place whole, rec_out appends;
//  - read: read_ranked -> rl_info, load_records -> vector<pair_rec> (both
//    against the table loaded by load_mem), read_signif -> sig_tab, read_null
//    -> null_tab; errors throw syn_error "FILE:LINE: reason";
//  - column lists: ranked_names, sig_names, null_names, tsv_names, edge_names.
#pragma once

#include "exports.h"
#include "files.h"
#include "null_file.h"
#include "ranked.h"
#include "rec_check.h"
#include "records.h"
#include "sigtab.h"
#include "table.h"
