#include "language/SymTabs.h"

#include <deque>
#include <functional>
#include <unordered_map>

std::vector<SymTabs_Name*> SymTabs_nameTable;

namespace {

std::deque<SymTabs_Name> records;  // owns every record ever stored

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
// The records in the table under each name, most recent last: a name is
// found without a walk over the table, however many loops are open.
std::unordered_map<std::string, std::vector<SymTabs_Name*>, NameHash, std::equal_to<>> byName;

}  // namespace

void InitSymTabs() {
  SymTabs_nameTable.clear();
  records.clear();
  byName.clear();
}

SymTabs_Name* SymTabs_StoreName(const SymTabs_Name& record) {
  SymTabs_Name* stored = &records.emplace_back(record);
  SymTabs_nameTable.push_back(stored);
  byName[stored->name].push_back(stored);
  return stored;
}

SymTabs_Name* SymTabs_FindName(std::string_view name) {
  auto it = byName.find(name);
  return it == byName.end() || it->second.empty() ? nullptr : it->second.back();
}

void SymTabs_RemoveName() {
  if (SymTabs_nameTable.empty()) return;
  byName[SymTabs_nameTable.back()->name].pop_back();
  SymTabs_nameTable.pop_back();
}

bool SymTabs_LookUpLabel(int32_t node, SymTabs_Name& label) {
  // Declared names were stored in increasing node order, so the most recent
  // name that starts at or below the node is the one that can hold it. Loop
  // counters keep values, not node numbers, in those fields.
  for (auto it = SymTabs_nameTable.rbegin(); it != SymTabs_nameTable.rend(); ++it) {
    const SymTabs_Name& r = **it;
    if (r.kind == SymTabs_counter || node < r.firstNode) continue;
    if (node > r.lastNode) return false;
    label = r;
    int32_t k = node - r.firstNode;
    int32_t d0 = r.dims[0], d1 = r.dims[1];
    if ((r.numIndices >= 2 && d0 <= 0) || (r.numIndices == 3 && d1 <= 0)) return false;
    switch (r.numIndices) {
      case 1:
        label.dims[0] = k + 1;
        break;
      case 2:
        label.dims[0] = k % d0 + 1;
        label.dims[1] = k / d0 + 1;
        break;
      case 3: {
        int32_t r = k % (d0 * d1);
        label.dims[2] = k / (d0 * d1) + 1;
        label.dims[1] = r / d0 + 1;
        label.dims[0] = r % d0 + 1;
        break;
      }
      default:
        break;
    }
    return true;
  }
  return false;
}

std::string SymTabs_LabelText(const SymTabs_Name& label) {
  std::string s = label.name;
  if (label.numIndices > 0) {
    s += '[';
    for (int i = label.numIndices - 1; i >= 0; --i) {
      s += std::to_string(label.dims[i]);
      s += i > 0 ? ',' : ']';
    }
  }
  return s;
}

std::string SymTabs_NodeText(int32_t node) {
  SymTabs_Name label;
  return SymTabs_LookUpLabel(node, label) ? SymTabs_LabelText(label) : std::to_string(node);
}
