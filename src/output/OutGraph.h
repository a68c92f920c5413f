// OutGraph: the compiled model as text, for the graph() command: the name
// table with each name's first node number and extents, then one entry per
// node with its number, kind, value, distribution or logical code, parents
// and likelihood list. A diagnostic listing; nothing reads it back.
//
// Entries are written as items in fields of 7 characters (a value takes two
// items); a line holding ten items is continued on a new line indented by
// seven spaces.
#pragma once

void InitOutGraph();
// The name table, most recently stored name first, and the count of
// anonymous nodes when there are any.
void OutGraph_WriteNames();
// Every node number from 0 up, through the node store.
void OutGraph_DisplayGraph();
