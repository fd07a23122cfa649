#include "model/progress_tree.h"

#include <chrono>
#include <thread>

#include "model/ui_state.h"

namespace vard {

ProgressNode::ProgressNode(std::uint64_t weight_in, ProgressNode* parent_in)
    : parent(parent_in), weight(weight_in) {
  if (parent != nullptr) parent->children.push_back(this);
}

ProgressNode::ProgressNode(ProgressNode* parent_in, const std::wstring& label_in)
    : parent(parent_in), label(label_in) {
  if (parent != nullptr) parent->children.push_back(this);
}

namespace {

std::uint64_t WeightSum(const ProgressNode& node) {
  std::uint64_t sum = node.weight;
  for (const ProgressNode* child : node.children) sum += WeightSum(*child);
  return sum;
}

std::uint64_t DoneSum(const ProgressNode& node) {
  std::uint64_t sum = node.done;
  for (const ProgressNode* child : node.children) sum += DoneSum(*child);
  return sum;
}

}  // namespace

float Fraction(const ProgressNode& node) {
  // long double keeps all 64 bits of both sums on x86 (and at least double elsewhere).
  const long double weight = static_cast<long double>(WeightSum(node));
  if (weight < 1.0L) return 0.0f;
  const long double done = static_cast<long double>(DoneSum(node));
  const float f = static_cast<float>(done / weight);
  if (f < 0.0f) return 0.0f;
  if (f > 1.0f) return 1.0f;
  return f;
}

void MarkComplete(ProgressNode& node) {
  node.done = node.weight;
  for (ProgressNode* child : node.children) MarkComplete(*child);
}

void ReportProgress(ProgressNode& node) {
  ProgressNode* labelled = &node;
  while (labelled != nullptr && labelled->label.empty()) labelled = labelled->parent;
  if (labelled == nullptr) return;
  SetDetailText(labelled->label);
  SetItemProgress(Fraction(*labelled));
  if (ProgressRoot() != nullptr) SetTotalProgress(Fraction(*ProgressRoot()));
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void AdvanceProgress(ProgressNode& node, std::uint64_t count) {
  node.done = count < node.weight ? count : node.weight;
  ReportProgress(node);
}

ProgressNode*& ProgressRoot() {
  static ProgressNode* root = nullptr;
  return root;
}

}  // namespace vard
