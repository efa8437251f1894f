#include "dialogs/widgets/graph_data.h"

void KtGraphData::AddPoint(int value, int time) {
  if (capacity_ > 0) {
    while (static_cast<int>(points_.size()) >= capacity_) points_.pop_back();
  }
  points_.push_front(GraphPoint{value, time});
}

std::vector<int> KtGraphData::ValuesNewestFirst() const {
  std::vector<int> out;
  out.reserve(points_.size());
  for (const GraphPoint& p : points_) out.push_back(p.value);
  return out;
}

void KtGraphData::Serialize(GraphArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteString(name_);
    ar.WriteI32(capacity_);
    ar.WriteCount(static_cast<uint32_t>(points_.size()));
    for (const GraphPoint& p : points_) {
      ar.WriteI32(p.value);
      ar.WriteI32(p.time);
    }
    return;
  }
  name_ = ar.ReadString();
  capacity_ = ar.ReadI32();
  points_.clear();
  const uint32_t n = ar.ReadCount();
  // Each point needs 8 bytes: a count the bytes cannot hold fails instead of allocating.
  if (ar.Failed() || n > ar.Remaining() / 8) {
    ar.SetFailed();
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    GraphPoint p;
    p.value = ar.ReadI32();
    p.time = ar.ReadI32();
    points_.push_back(p);  // stored newest first: appending keeps that order
  }
}
