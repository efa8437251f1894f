// KtGraphData: one named series of (value, time) points for the graph classes, newest point at
// the head. With a capacity above 0 the series keeps at most that many points: adding to a
// full series drops the oldest (the tail). Times are seconds since 1970.
#pragma once

#include <QString>
#include <cstdint>
#include <list>
#include <vector>

#include "dialogs/widgets/graph_archive.h"

struct GraphPoint {
  int32_t value = 0;
  int32_t time = 0;
};

class KtGraphData : public KtGraphObject {
 public:
  KtGraphData() = default;
  KtGraphData(const QString& name, int capacity) : name_(name), capacity_(capacity) {}

  const char* RuntimeClassName() const override { return "KtGraphData"; }
  void Serialize(GraphArchive& ar) override;

  void AddPoint(int value, int time);
  void RemoveAll() { points_.clear(); }
  int GetCount() const { return static_cast<int>(points_.size()); }
  const QString& Name() const { return name_; }
  int Capacity() const { return capacity_; }
  // Newest first.
  const std::list<GraphPoint>& Points() const { return points_; }
  // The values newest first (what the drawing walks).
  std::vector<int> ValuesNewestFirst() const;

 private:
  QString name_;
  int capacity_ = 0;
  std::list<GraphPoint> points_;
};
