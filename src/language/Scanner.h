// Scanner: turns a character file into tokens.
//
// One scanner serves the model file, the data and initial-value files and
// every command line. It holds one character ahead; whether a word is a
// keyword depends on whether that character is "(" (the word written as a
// call) or anything else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Files.h"

// Token kinds. Keyword codes double as command, function and distribution codes.
enum Scanner_Kind : int32_t {
  Scanner_invalid = -1,  // end of input, or a character that begins no token
  Scanner_name = 1,
  Scanner_string = 2,
  Scanner_integer = 3,
  Scanner_real = 4,
  Scanner_semicolon = 5,
  Scanner_comma = 6,
  Scanner_colon = 7,
  Scanner_period = 8,
  Scanner_lbrak = 9,
  Scanner_rbrak = 10,
  Scanner_lparen = 11,
  Scanner_rparen = 12,
  Scanner_lbrace = 13,
  Scanner_rbrace = 14,
  Scanner_equals = 15,
  Scanner_becomes = 16,  // "<-"
  Scanner_tilde = 17,
  Scanner_plus = 18,
  Scanner_minus = 19,
  Scanner_times = 20,
  Scanner_slash = 21,
  // Language words.
  Scanner_c = 22, Scanner_const, Scanner_data, Scanner_Data, Scanner_Dim, Scanner_for,
  Scanner_in, Scanner_inits, Scanner_iteration, Scanner_I, Scanner_list, Scanner_model,
  Scanner_NA, Scanner_seed, Scanner_structure, Scanner_var,
  // Functions.
  Scanner_cloglog = 38, Scanner_cos, Scanner_equalsFn, Scanner_exp, Scanner_inprod,
  Scanner_inverse, Scanner_log, Scanner_logdet, Scanner_logfact, Scanner_loggam,
  Scanner_logit, Scanner_max, Scanner_mean, Scanner_min, Scanner_phi, Scanner_pow,
  Scanner_probit, Scanner_sd, Scanner_sin, Scanner_sqrt, Scanner_step, Scanner_sum,
  // Distributions.
  Scanner_dbern = 60, Scanner_dbeta, Scanner_dbin, Scanner_dcauchy, Scanner_dchisq,
  Scanner_ddirch, Scanner_ddexp, Scanner_dexp, Scanner_df, Scanner_dgamma, Scanner_dgeom,
  Scanner_dgum, Scanner_dhypo, Scanner_dlogis, Scanner_dlnorm, Scanner_dcat, Scanner_dmnorm,
  Scanner_dmulti, Scanner_dnegbin, Scanner_dnorm, Scanner_dpar, Scanner_dpois, Scanner_dpow,
  Scanner_dt, Scanner_dunif, Scanner_dweib, Scanner_dwish, Scanner_dzipf,
  // Commands.
  Scanner_compile = 88, Scanner_update, Scanner_monitor, Scanner_clear, Scanner_q,
  Scanner_graph, Scanner_iter, Scanner_help, Scanner_out, Scanner_save, Scanner_stats,
  Scanner_diag, Scanner_checkpoint,
  // Help topics.
  Scanner_functions = 101,
  Scanner_distributions = 102,
  // Commands added since, after the help topics so that no code moves.
  Scanner_conv = 103,
};

constexpr size_t Scanner_maxText = 79;  // longest name or string kept
constexpr int Scanner_endOfFile = -1;   // the held-ahead character at the end of input

struct Scanner_Token {
  Files_Rider rider;
  int ch = Scanner_endOfFile;  // held-ahead character: 0..255, or Scanner_endOfFile
  int32_t kind = Scanner_invalid;
  int32_t intValue = 0;        // kind 3
  double realValue = 0.0;      // kind 4
  std::string text;            // kinds 1, 2 and keywords
};

void InitScanner();
// Binds the token to the file at pos and reads the first character ahead.
void Scanner_Open(Scanner_Token& token, const Files_Handle& handle, int64_t pos);
// Reads the next token; never fails, every problem yields kind -1.
void Scanner_Get(Scanner_Token& token);
// Turns a name (kind 1) into its keyword code for the position given by token.ch.
void Scanner_Hash(Scanner_Token& token);
// The word of a keyword code, empty for codes without one.
std::string_view Scanner_KeywordText(int32_t code);
