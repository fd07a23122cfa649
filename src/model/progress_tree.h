// The weighted progress tree: the engine weights its work in bytes, advances work nodes as
// bytes go by, and ReportProgress turns the tree into the item bar, the total bar and the
// detail line of the UI state. Main thread only; no lock (the setters lock themselves).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vard {

class ProgressNode {
 public:
  // A work node of the given weight, appended to parent's children when parent is set.
  ProgressNode(std::uint64_t weight, ProgressNode* parent);
  // A labelled node (weight 0), appended to parent's children when parent is set.
  ProgressNode(ProgressNode* parent, const std::wstring& label);
  // The tree does not own its nodes: destroying one releases only its label and the list
  // of child references.
  ~ProgressNode() = default;
  ProgressNode(const ProgressNode&) = delete;
  ProgressNode& operator=(const ProgressNode&) = delete;

  ProgressNode* parent = nullptr;
  std::wstring label;
  std::vector<ProgressNode*> children;
  std::uint64_t weight = 0;
  std::uint64_t done = 0;
};

// Completion of the node's subtree, done sum over weight sum (64-bit, wrapping), as a
// float clamped to [0, 1]; 0 when the weight sum is 0.
float Fraction(const ProgressNode& node);

// Sets done to weight on the node and every node below it.
void MarkComplete(ProgressNode& node);

// Shows the nearest labelled node at or above node: its label as the detail text and its
// fraction on the item bar; the root's fraction on the total bar when a root is stored.
// Does nothing when no labelled node is found. Ends with a 1 ms sleep.
void ReportProgress(ProgressNode& node);

// Sets the node's done to min(count, weight) and reports it: how the engine advances work.
void AdvanceProgress(ProgressNode& node, std::uint64_t count);

// The process-wide progress root, null until the run stores its root node.
ProgressNode*& ProgressRoot();

}  // namespace vard
