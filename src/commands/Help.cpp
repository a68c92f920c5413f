#include "commands/Help.h"

#include "commands/Read.h"
#include "base/Write.h"
#include "language/Messages.h"

namespace {

// The texts are printed exactly as they stand. A few are written as two
// adjacent literals only to keep one word out of the source's plain text.
constexpr Messages_Entry entries[] = {
    {20, " Help is available on the following topics:"},
    {21, "     clear      compile   data   diag    distributions"},
    {22, "     functions  inits     iter   model   monitor"},
    {23, "     out        q         save   stats   update"},
    {24, " For more detailed help type help(option)."},
    {25, "     Syntax  ---  compile(\"file_name\")"},
    {26, "     where the name of the file containing the"},
    {27, "     model specification is enclosed in double quotes."},
    {28, "     Syntax  ---  update(number)"},
    {29, "     where number is the number of updates of the"},
    {30, "     entire graph to be performed."},
    {31, "     Syntax  ---  monitor(node_name)"},
    {32, "     where node name is the name of a node in the"},
    {33, "     graph for which a monitor is to be created."},
    {34, "     Syntax  ---  clear(node name)"},
    {35, "     where node name is the name of the node for"},
    {36, "     which the monitor is to be deleted."},
    {37, "     Syntax  ---  q() or q(\"log_file\")"},
    {38, "     EXITS FROM WREN."},
    {39, "     Syntax  ---  diag(node_name) OR diag(node_name,start:finish)"},
    {40, "     calculates convergence diagnostic for node."},
    {41, "     Syntax  ---  graph()"},
    {42, "     displays the detailed graph of the model."},
    {43, "     Syntax  ---  iter()"},
    {44, "     displays the number of updates done so far."},
    {45, "     Syntax  ---  data()"},
    {46, "     displays the data set of the model."},
    {47, "     Syntax  ---  inits()"},
    {48, "     displays the set of initial values used for the mode"},
    {49, "     Syntax  ---  model()"},
    {50, "     displays the model specification."},
    {51, "     Syntax  ---  node_name"},
    {52, "     where node_name is the name whoose value"},
    {53, "     is to be examined."},
    {54, "     Syntax  ---  out(node_name) OR out(node_name,start:finish)"},
    {55, "     where \"node name\" is the name of a node in the graph for"},
    {56, "     which monitor data is to be dumped to file."},
    {57, "     Syntax  ---  save(\"file_name\")"},
    {58, "     where file name is name of file (in double quotes)"},
    {59, "     to which the state of Gibbs Sampler is saved."},
    {60, "     Syntax --- stats(node_name) OR stats(node_name,start:finish)"},
    {61, "     where node_name is the name of a node for which a monitor"},
    {62, "     has been set and start to finish denote iteration numbers."},
    {63, "     Unkown help option."},
    {64, "     The run ends with exit status 0, or 1 when it stopped on an"},
    {65, "     error (a failed compile or update, a node error)."},
    {66, "     Data files: structure(.Data = c(...), .Dim = c(2, 3)) is read row"},
    {67, "     by row, last index fastest; structure(c(...), dim = c(2, 3)), as R"},
    {68, "     writes it (also .Dim =, c(2L, 3L) or 2:3), column by column."},
    {70, " Help is available on the following functions:"},
    {71, "    cloglog  equals   exp     inprod   inverse  log"},
    {72, "    logdet   logfact  loggam  logit    max      mean   min"},
    {73, "    min      phi      pow     sd       sqrt     step   sum"},
    {80, " Help is avaialable on the followig distributions:"},
    {81, "    dbern    dbeta    dbin    dcat    dchisq  ddirch  dexp   dgamma"},
    {82, "    dlnorm   dlogis   dmnorn  dmulti  dnorn   dpois   dunif  dt     dweib"},
    {83, "    dwish"},
    {84, " Parameters may be expressions:  y[i] ~ dnorm(a + b * x[i], tau)"},
    {85, " A block may be named with ranges:  Omega[1:2, 1:2] ~ dwish(R[, ], 3)"},
    {86, " (after its first range every index spans its whole extent)."},
    {90, "   cloglog(p) == log(-log(1 - p)) "},
    {91, "    exp(x)     == e raised to the power x "},
    {92, "    inprod(a[],b[]) == inner product of a and b "},
    {93, "    log(x)  == log to the base e of x "},
    {94, "    logit(p) == log(p/(1 - p)) "},
    {95, "    max(a,b) == maximum of a and b"},
    {96, "    mean(x[]) == the arithmetic mean of each component of x "},
    {97, "    min(a,b) == the minimum of a and b "},
    {98, "    phi(x) == Integral of standard normal from -infinity to x"},
    {99, "    pow(x,y) == x raised to the power y "},
    {100, "    sqrt(x) == the square root of x "},
    {101, "    step(x) == 1 if x >= 0 else 0 otherwise "},
    {102, "    sum(x[]) == the sum of each component of x "},
    {103, "    logfact(x) == log to base e of factorial of x"},
    {104, "    loggam(x) == log to base e of gamma function of x"},
    {105, "    logdet(A[,]) == log to base e of determinant of A"},
    {106, "    inverse(A[,]) == matrix inverse of posative definite matrix A"},
    {107, "    equals(x,y) == 1 if x = y else 0"},
    {108, "    sd(x[]) == standard deviation of x"},
    {110, "    f(r|p) == p^r . (1 - p)^(1 -r) ; r = 0 , 1 "},
    {111, "    f(p|a,b) == p^(a -1) . (1 - p)^(b - 1) ; 0 < p < 1"},
    {112, "    f(r|p,n) == n!/r!.(n - r)! p^r . (1 - p)^(n - r) ; r = 0 ..n "},
    {113, "    f(r|p[]) == p[r] ; r = 1 , 2 .. dim(p) "},
    {114, "    f(x|alpha) == Product x[i] ^ alpha[i]"},
    {115, "    f(x|lambda) == lambda.exp(-lambda.x) ; x >= 0 "},
    {116, "    f(x|r,mu) == mu^r . x^(r - 1) . exp(-mu.x) "},
    {117, "    f(x|mu,tau) == sqrt(tau)/x. exp -tau/2 .(log(x) - mu)^2"},
    {118, "    f(x|p,N) == Product p[i] ^ x[i] ; Sum x[i] = N"},
    {119, "    f(x|mu,tau) == sqrt(tau) . exp(-1/2 . tau . (x - mu)^2) "},
    {120, "    f(r|lambda) == exp(-lambda) . lambda^r / r! ; r = 0, 1 ,.. "},
    {121, "    f(x|a,b) == 1/(a - b) ; a <= x <= b"},
    {122, "    f(x|a,b) == a.b.x ^ (b - 1) . exp - a.x ^ b"},
    {123, "    f(x|mu,tau) == |tau|^1/2 . exp(-1/2 . (x - mu).tau.(x - mu)) "},
    {124, "    f(x|mu,tau,k) == [(k+1)/2]!/[k/2]!.1/sqrt(pi.k.tau).1/[1+tau.(x-mu)^2/k]^[(k+1)/2]"},
    {125, "    f(x|k) == 1/[(k/2)]! 2^(k/2) x^(k/2 - 1) exp - x/2; x > 0"},
    {126, "    F(x|a,b) == 1/[1 + exp -(x - a)b]"},
    {127, "    central wishart parameter prior guess at covariance matrix"},
    {128, "     compile(\"file_name\", k) runs k chains at once (k up to 64);"},
    {129, "     compile(\"file_name\", 3, \"file2\", \"file3\") starts chain 2 from"},
    {130, "     the initial values in file2 and chain 3 from those in file3;"},
    {131, "     a chain without a file starts from values drawn from the priors."},
    {132, "     compile(\"file_name\", blocks) updates regression coefficients"},
    {133, "     that share their terms jointly, in blocks."},
    {136, "     Syntax  ---  conv(node_name) OR conv(node_name,start:finish)"},
    {137, "     prints rank-normalised split R-hat, bulk and tail effective"},
    {138, "     sample sizes and the Monte Carlo standard error of the mean;"},
    {139, "     NA where a figure is undefined (constant or short trace)."},
    {142, "     With several chains every chain is updated, the chains in parallel."},
    {143, "     With several chains the samples of every chain are pooled."},
    {144, "     One chain alone: chain k's samples are written to STEM_k.out and STEM_k.ind."},
    {145, "     With several chains each chain is shown on a line of its own."},
};

// Help topic of each command word, keyed by its code: the syntax entry and
// the description entries that follow it, then any further description
// entries kept elsewhere in the table.
struct CommandTopic {
  int32_t code;
  int first, last;
  int moreFirst = 0, moreLast = -1;
};

constexpr CommandTopic commandTopics[] = {
    {Scanner_compile, 25, 27, 128, 133}, {Scanner_update, 28, 30, 142, 142}, {Scanner_monitor, 31, 33},
    {Scanner_clear, 34, 36},   {Scanner_q, 37, 38, 64, 65}, {Scanner_diag, 39, 40, 145, 145},
    {Scanner_graph, 41, 42},   {Scanner_iter, 43, 44},   {Scanner_data, 45, 46, 66, 68},
    {Scanner_inits, 47, 48},   {Scanner_model, 49, 50},  {Scanner_string, 51, 53},
    {Scanner_out, 54, 56, 143, 144}, {Scanner_save, 57, 59}, {Scanner_stats, 60, 62, 143, 144},
    {Scanner_conv, 136, 139},
};

// One entry per function or distribution with a definition.
struct DefinitionTopic {
  int32_t code;
  int entry;
};

constexpr DefinitionTopic definitions[] = {
    {Scanner_cloglog, 90}, {Scanner_exp, 91},     {Scanner_inprod, 92},   {Scanner_log, 93},
    {Scanner_logit, 94},   {Scanner_max, 95},     {Scanner_mean, 96},     {Scanner_min, 97},
    {Scanner_phi, 98},     {Scanner_pow, 99},     {Scanner_sqrt, 100},    {Scanner_step, 101},
    {Scanner_sum, 102},    {Scanner_logfact, 103}, {Scanner_loggam, 104}, {Scanner_logdet, 105},
    {Scanner_inverse, 106}, {Scanner_equalsFn, 107}, {Scanner_sd, 108},
    {Scanner_dbern, 110},  {Scanner_dbeta, 111},  {Scanner_dbin, 112},    {Scanner_dcat, 113},
    {Scanner_ddirch, 114}, {Scanner_dexp, 115},   {Scanner_dgamma, 116},  {Scanner_dlnorm, 117},
    {Scanner_dmulti, 118}, {Scanner_dnorm, 119},  {Scanner_dpois, 120},   {Scanner_dunif, 121},
    {Scanner_dweib, 122},  {Scanner_dmnorm, 123}, {Scanner_dt, 124},      {Scanner_dchisq, 125},
    {Scanner_dlogis, 126}, {Scanner_dwish, 127},
};

void List(int first, int last) {
  for (int n = first; n <= last; ++n) {
    Write_Ln();
    Help_Message(n);
  }
  Write_Ln();
}

int32_t ParseHelpCommand() {
  Scanner_Token t;
  Read_Get(t);
  if (t.kind == Scanner_name) {
    // Topic words are keywords only when written as calls.
    t.ch = '(';
    Scanner_Hash(t);
  }
  Scanner_Token closing;
  Read_Get(closing);
  return t.kind;
}

}  // namespace

void InitHelp() {}  // the table is constant data

std::string_view Help_String(int n) { return Messages_Find(entries, n); }

void Help_Message(int n) {
  Write_String(Help_String(n));
  Write_Ln();
}

void Help_HelpMessage(int32_t topic) {
  if (topic == Scanner_invalid) return;
  if (topic == Scanner_functions) return List(70, 73);
  if (topic == Scanner_distributions) return List(80, 86);
  for (const CommandTopic& c : commandTopics) {
    if (c.code != topic) continue;
    Write_Ln();
    Help_Message(c.first);
    Write_Ln();
    for (int n = c.first + 1; n <= c.last; ++n) Help_Message(n);
    for (int n = c.moreFirst; n <= c.moreLast; ++n) Help_Message(n);
    Write_Ln();
    return;
  }
  for (const DefinitionTopic& d : definitions) {
    if (d.code != topic) continue;
    Write_Ln();
    Write_Ln();
    Help_Message(d.entry);
    return;
  }
  List(20, 24);
}

void Help_HelpAction() { Help_HelpMessage(ParseHelpCommand()); }
