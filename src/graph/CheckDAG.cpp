#include "graph/CheckDAG.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "commands/Write.h"
#include "language/Messages.h"
#include "language/Parser.h"

namespace {

enum Message { possibleCycle = 18 };

using Names = std::vector<const SymTabs_Name*>;

// Declared variables named anywhere below a node: operands, index lists,
// parameters and bounds. An explicit stack keeps deep trees off the call stack.
void Collect(const Parser_Tree* tree, Names& names, std::unordered_set<const SymTabs_Name*>& seen) {
  std::vector<const Parser_Tree*> stack{tree};
  while (!stack.empty()) {
    const Parser_Tree* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == Parser_variableRef && seen.insert(n->name).second) names.push_back(n->name);
    stack.push_back(n->next);
    stack.push_back(n->right);
    stack.push_back(n->left);
  }
}

struct Relation {
  const SymTabs_Name* target;
  Names uses;  // each name once, in order of appearance
};

}  // namespace

void CheckDAG_Cycles(const Parser_Tree* head) {
  std::vector<Relation> relations;
  std::unordered_map<const SymTabs_Name*, std::vector<size_t>> definitions;
  for (const Parser_Tree* r = head != nullptr ? head->next : nullptr; r != nullptr; r = r->next) {
    if (r->kind == Parser_loopEnd) {
      r = r->next->right;  // on at the loop's exit
      continue;
    }
    if (r->kind != Parser_stochastic && r->kind != Parser_logical) continue;
    Relation rel{r->left->name, {}};
    std::unordered_set<const SymTabs_Name*> seen;
    Collect(r->right, rel.uses, seen);
    definitions[rel.target].push_back(relations.size());
    relations.push_back(std::move(rel));
  }

  for (const Relation& rel : relations) {
    Names list = rel.uses;
    std::unordered_set<const SymTabs_Name*> seen(list.begin(), list.end());
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i] == rel.target) {
        Messages_Text(possibleCycle);
        Write_Ln();
        return;
      }
      auto it = definitions.find(list[i]);
      if (it == definitions.end()) continue;
      for (size_t d : it->second)
        for (const SymTabs_Name* n : relations[d].uses)
          if (seen.insert(n).second) list.push_back(n);
    }
  }
}
