// ZANFEL.NODES, beside the results file of a run with segments: the node
// states after each record's solve, one line per record at full precision
// ("record,z1,z2,..."), written before the record itself. A resume takes the
// line of the last record it goes on from, so that the next solve starts
// from exactly the node states the uninterrupted run had.
#pragma once

#include <string>
#include <string_view>

#include "report/csv.hpp"
#include "report/text_file.hpp"
#include "shooting/segments.hpp"

namespace zanfel {

inline std::string NodesPath() {
  return BesidePath("ZANFEL.NODES");
}

template <ShootingModel Model>
std::string NodesLine(long record, const SegmentedShooting<Model> &ms) {
  std::string line = std::to_string(record);
  for (int J = Model::N + 1; J <= ms.Order(); ++J)
    line += "," + FullReal(ms.Z[J]);
  return line + "\n";
}

// The node states of `record` from the file's bytes into `into` (the
// entries after the model's unknowns, up to `order`), and in `keep` the
// bytes up to the end of that line; false when no whole line of that record
// with every node state is there.
template <ShootingModel Model>
bool ReadNodeStates(std::string_view bytes, long record, int order,
                    GLNARRAY<SegmentedShooting<Model>::NZ> &into, std::size_t &keep) {
  const std::string head = std::to_string(record) + ",";
  for (std::size_t at = 0, end; (end = bytes.find('\n', at)) != std::string_view::npos;
       at = end + 1) {
    std::string_view line = bytes.substr(at, end - at);
    if (!line.starts_with(head))
      continue;
    line.remove_prefix(head.size());
    GLNARRAY<SegmentedShooting<Model>::NZ> Z = into;
    for (int J = Model::N + 1; J <= order; ++J) {
      const std::size_t comma = line.find(',');
      const bool last = J == order;
      if ((comma == std::string_view::npos) != last ||
          !ParseReal(line.substr(0, last ? line.size() : comma), Z[J]))
        return false;
      line.remove_prefix(last ? line.size() : comma + 1);
    }
    into = Z;
    keep = end + 1;
    return true;
  }
  return false;
}

// The same into ms.Z, whose node states are then known.
template <ShootingModel Model>
bool ReadNodesLine(std::string_view bytes, long record, SegmentedShooting<Model> &ms,
                   std::size_t &keep) {
  if (!ReadNodeStates<Model>(bytes, record, ms.Order(), ms.Z, keep))
    return false;
  ms.nodesKnown = true;
  return true;
}

} // namespace zanfel
