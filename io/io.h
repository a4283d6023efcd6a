// io.h: the toolkit's files, one home per file kind, between the core
// (synergy_core, which reads the expression table) and the programs.
//
// For bindings (R, Python): include this header and link syn_io and synergy_core.
//  - Writers return the file's text; names are passed in, nothing is read from
//    the core's state: write_ranked(rows), write_records(recs),
//    write_signif(rows, with_null, with_src, prov). Put the text in place with
//    out_file(path).write(text) (whole, through a temporary file), or append
//    records with rec_out(path).append(rec) as pair_search does.
//  - Readers return plain structs: read_ranked -> rl_info, load_records ->
//    std::vector<pair_rec>, read_signif -> sig_tab, read_null -> null_tab.
//    The ranked list and records are checked against the loaded table
//    (load_mem or load_exp first); read_signif checks names only when given
//    make_idx(probe). Each throws syn_error "FILE:LINE: reason".
//  - Column lists: ranked_names(), sig_names(with_null, with_src),
//    null_names(), tsv_names(...), edge_names(); SIG_COLS and TSV_COLS hold
//    each column's help text.
//  - Numbers are written in the score text (score_text, synergy.h), the
//    six-digit form on which candidacy is decided.
#pragma once

#include "exports.h"
#include "files.h"
#include "null_file.h"
#include "ranked.h"
#include "rec_check.h"
#include "records.h"
#include "sigtab.h"
#include "table.h"
