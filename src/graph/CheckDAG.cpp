#include "graph/CheckDAG.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Write.h"
#include "language/Messages.h"
#include "language/Parser.h"

namespace {

enum Message { possibleCycle = 18 };

using Names = std::vector<const SymTabs_Name*>;

// Declared variables named anywhere below a node: operands, index lists,
// parameters and bounds. An explicit stack keeps deep trees off the call stack.
void Collect(const Parser_Tree* tree, Names& names) {
  std::vector<const Parser_Tree*> stack{tree};
  while (!stack.empty()) {
    const Parser_Tree* n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == Parser_variableRef) names.push_back(n->name);
    stack.push_back(n->next);
    stack.push_back(n->right);
    stack.push_back(n->left);
  }
}

}  // namespace

// A variable depends on itself through other definitions exactly when the
// graph from each defined variable to the variables its definitions use has
// a cycle; one depth-first walk over that graph finds it.
void CheckDAG_Cycles(const Parser_Tree* head) {
  std::unordered_map<const SymTabs_Name*, Names> uses;
  for (const Parser_Tree* r = head != nullptr ? head->next : nullptr; r != nullptr; r = r->next) {
    if (r->kind == Parser_loopEnd) {
      r = r->next->right;  // on at the loop's exit
      continue;
    }
    if (r->kind == Parser_stochastic || r->kind == Parser_logical) Collect(r->right, uses[r->left->name]);
  }

  enum State { unseen, onPath, finished };
  std::unordered_map<const SymTabs_Name*, State> state;
  struct Frame {
    const Names* next;
    size_t at;
    const SymTabs_Name* name;
  };
  for (const auto& [root, rootUses] : uses) {
    if (state[root] != unseen) continue;
    std::vector<Frame> path{{&rootUses, 0, root}};
    state[root] = onPath;
    while (!path.empty()) {
      Frame& f = path.back();
      if (f.at == f.next->size()) {
        state[f.name] = finished;
        path.pop_back();
        continue;
      }
      const SymTabs_Name* n = (*f.next)[f.at++];
      State& s = state[n];
      if (s == onPath) {
        Messages_Text(possibleCycle);
        Write_Ln();
        return;
      }
      auto defined = uses.find(n);
      if (s == unseen && defined != uses.end()) {
        s = onPath;
        path.push_back({&defined->second, 0, n});
      } else if (s == unseen) {
        s = finished;  // used but never defined: no way on
      }
    }
  }
}
