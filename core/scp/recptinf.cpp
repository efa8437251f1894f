#include "core/scp/recptinf.h"

#include <new>

#include "core/base/ktdiag.h"

Recptinf::Recptinf() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 1);
  SetRefreshPeriod(kRefreshNever);
}

int Recptinf::GetRoute(int branch) {
  branches_.Touch(1);
  if (branch == 0 || branch == 1) return ROUTE_AGENT;
  LogError(ERR_RECPTINF, FN_GET_ROUTE, 1, branch);
  return ROUTE_REFUSED;
}

void Recptinf::Reset() {
  table_.clear();
  table_.shrink_to_fit();
  count_ = 0;
  non_critical_ = kNoSegment;
}

void Recptinf::SetCount(int n) {
  const uint8_t count = static_cast<uint8_t>(n < 0 ? 0 : (n > 255 ? 255 : n));
  try {
    table_.resize(count);
  } catch (const std::bad_alloc&) {
    // The old table stays, and so does the count that describes it.
    LogError(ERR_RECPTINF, FN_CONVERT_BRANCH, 3, GetSocketError());
    return;
  }
  count_ = count;
}

const ReceptacleInfo* Recptinf::At(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= table_.size()) return nullptr;
  return &table_[static_cast<size_t>(i)];
}

ReceptacleInfo* Recptinf::At(int i) {
  if (i < 0 || static_cast<size_t>(i) >= table_.size()) return nullptr;
  return &table_[static_cast<size_t>(i)];
}

uint8_t Recptinf::GetStatus(int i) const {
  const ReceptacleInfo* r = At(i);
  return r != nullptr ? r->status : 0xFF;
}

int Recptinf::SetStatus(int i, uint8_t v) {
  ReceptacleInfo* r = At(i);
  if (r == nullptr) return 0;
  r->status = v;
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  return 1;
}

int Recptinf::SetTiming(int i, uint16_t ReceptacleInfo::*member, uint16_t v, int32_t function) {
  ReceptacleInfo* r = At(i);
  if (r == nullptr) {
    LogError(ERR_RECPTINF, function, 1, i);
    return -1;
  }
  r->*member = v;
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  return 1;
}

uint16_t Recptinf::GetSchedDownTime(int i) const {
  const ReceptacleInfo* r = At(i);
  return r != nullptr ? r->sched_down_time : 0xFFFF;
}
int Recptinf::SetSchedDownTime(int i, uint16_t v) {
  return SetTiming(i, &ReceptacleInfo::sched_down_time, v, FN_SCHED_DOWN_TIME);
}

uint16_t Recptinf::GetSchedDownDura(int i) const {
  const ReceptacleInfo* r = At(i);
  return r != nullptr ? r->sched_down_dura : 0xFFFF;
}
int Recptinf::SetSchedDownDura(int i, uint16_t v) {
  return SetTiming(i, &ReceptacleInfo::sched_down_dura, v, FN_SCHED_DOWN_DURA);
}

uint16_t Recptinf::GetDownDelay(int i) const {
  const ReceptacleInfo* r = At(i);
  return r != nullptr ? r->down_delay : 0xFFFF;
}
int Recptinf::SetDownDelay(int i, uint16_t v) { return SetTiming(i, &ReceptacleInfo::down_delay, v, FN_DOWN_DELAY); }

uint16_t Recptinf::GetUpDelay(int i) const {
  const ReceptacleInfo* r = At(i);
  return r != nullptr ? r->up_delay : 0xFFFF;
}
int Recptinf::SetUpDelay(int i, uint16_t v) { return SetTiming(i, &ReceptacleInfo::up_delay, v, FN_UP_DELAY); }

void Recptinf::SetNonCriticalSegment(uint8_t segment) {
  non_critical_ = segment;
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
}

int Recptinf::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (branch != 1) {
    LogError(ERR_RECPTINF, FN_CONVERT_BRANCH, 1, branch);
    return -1;
  }
  if (field != 1) {
    LogError(ERR_RECPTINF, FN_SCHED_DOWN_TIME, 1, field);
    return -1;
  }
  return ConvertTable(direction, out, in);
}

namespace {

void TraceReceptacle(size_t index, const ReceptacleInfo& r) {
  const char* prefix = "Recptinf::ConvertField: pStatus[";
  const unsigned long i = static_cast<unsigned long>(index);
  Diag() << prefix << i << "].status = " << static_cast<int>(r.status) << kendl;
  Diag() << prefix << i << "].sched_down_time = " << static_cast<int>(r.sched_down_time) << kendl;
  Diag() << prefix << i << "].sched_down_dura = " << static_cast<int>(r.sched_down_dura) << kendl;
  Diag() << prefix << i << "].down_delay = " << static_cast<int>(r.down_delay) << kendl;
  Diag() << prefix << i << "].up_delay = " << static_cast<int>(r.up_delay) << kendl;
}

}  // namespace

int Recptinf::ConvertTable(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    // The count written is the number of receptacles actually held, so that the record
    // always reads back as written.
    if (out->Put8(static_cast<uint8_t>(table_.size())) < 0 || out->Put8(non_critical_) < 0) return -1;
    for (size_t i = 0; i < table_.size(); ++i) {
      const ReceptacleInfo& r = table_[i];
      if (out->Put8(r.status) < 0 || out->Put16(r.sched_down_time) < 0 || out->Put16(r.sched_down_dura) < 0 ||
          out->Put16(r.down_delay) < 0 || out->Put16(r.up_delay) < 0) {
        return -1;
      }
      TraceReceptacle(i, r);
    }
    return 1;
  }

  if (in == nullptr) return -1;
  uint8_t count = 0;
  uint8_t non_critical = 0;
  if (in->Get8(count) < 0 || in->Get8(non_critical) < 0) return -1;
  if (static_cast<size_t>(count) > in->Remaining() / kReceptacleBytes) {
    LogError(ERR_RECPTINF, FN_CONVERT_BRANCH, CODE_BAD_COUNT, count);
    return -1;
  }
  std::vector<ReceptacleInfo> table;
  try {
    table.resize(count);
  } catch (const std::bad_alloc&) {
    LogError(ERR_RECPTINF, FN_CONVERT_BRANCH, 3, GetSocketError());
    return -1;
  }
  for (size_t i = 0; i < table.size(); ++i) {
    ReceptacleInfo& r = table[i];
    if (in->Get8(r.status) < 0 || in->Get16(r.sched_down_time) < 0 || in->Get16(r.sched_down_dura) < 0 ||
        in->Get16(r.down_delay) < 0 || in->Get16(r.up_delay) < 0) {
      return -1;
    }
    TraceReceptacle(i, r);
  }
  table_ = std::move(table);
  count_ = count;
  non_critical_ = non_critical;
  return 1;
}
