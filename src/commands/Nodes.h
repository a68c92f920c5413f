// Nodes: the commands that act on named nodes: monitor, clear, stats, diag,
// conv, out and the display of a node given by its bare name.
#pragma once

void InitNodes();
void Nodes_Node();
void Nodes_Record();
void Nodes_Clear();
void Nodes_Stats();
void Nodes_Diagnostic();
// Rank-normalised split R-hat, bulk and tail effective sample sizes and the
// Monte Carlo standard error of the mean of every monitored element.
void Nodes_Convergence();
void Nodes_OutPut();
