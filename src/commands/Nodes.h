// Nodes: the commands that act on named nodes: monitor, clear, stats, diag,
// out and the display of a node given by its bare name.
#pragma once

void InitNodes();
void Nodes_Node();
void Nodes_Record();
void Nodes_Clear();
void Nodes_Stats();
void Nodes_Diagnostic();
void Nodes_OutPut();
