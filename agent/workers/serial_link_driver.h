// The serial thread's link: UPS type detection (KT_LinkSetup) and the protocol objects of the
// serial UPS protocols (KT_UpsProtocol), seen through the interfaces the serial thread uses.
#pragma once

#include <memory>
#include <string>

#include "agent/protocols/link_setup.h"
#include "agent/protocols/protocol_factory.h"
#include "agent/protocols/ups_protocol.h"
#include "agent/engine/worker_drivers.h"

// One serial UPS protocol object.
class KT_SerialProtocolDriver : public SerialUpsProtocol {
 public:
  explicit KT_SerialProtocolDriver(std::unique_ptr<KT_UpsProtocol> protocol) : p_(std::move(protocol)) {}

  int UpdateStatus() override { return p_->UpdateStatus(); }
  int UpdateInfo() override { return p_->UpdateInfo(); }
  int UpdateCapabilities() override { return p_->UpdateCapabilities(); }
  int UpdateMeter() override { return p_->UpdateMeter(); }
  int UpdateConfig() override { return p_->UpdateConfig(); }
  int SetConfig() override { return p_->SetConfig(); }
  int UpdateBatteryTest() override { return p_->UpdateBatteryTest(); }
  int InitiateBatteryTest() override { return p_->InitiateBatteryTest(); }
  int Configure(const std::string& portName, int baudCode) override { return p_->Configure(portName, baudCode); }
  int Close() override { return p_->Close(); }
  int IsCableConnected() override { return p_->IsCableConnected(); }
  int UpdateAlarmQueue() override { return p_->UpdateAlarmQueue(); }
  int UpdateWaveform(int kind, int flag) override { return p_->UpdateWaveform(kind, flag); }
  int ShutdownAndRestart(int segment) override { return p_->ShutdownAndRestart(segment); }
  int ShutdownAfterOs(int segment) override { return p_->ShutdownAfterOs(segment); }
  int SetSegmentRestartDelay(int segment) override { return p_->SetSegmentRestartDelay(segment); }
  int SegmentOnNow(int segment) override { return p_->SegmentOnNow(segment); }
  int SegmentCount() override { return p_->GetSegmentCount(); }

 private:
  std::unique_ptr<KT_UpsProtocol> p_;
};

// Detection on the configured port and the protocols it finds. The protocols write the
// battery-test and battery-log files through `writer` when a test has finished.
class KT_SerialLinkDriver : public SerialUpsLink {
 public:
  explicit KT_SerialLinkDriver(KT_SCP& scp, KT_UpsProtocol::RecordFileWriter writer = nullptr)
      : scp_(scp), link_(scp), writer_(std::move(writer)) {}

  int Connect() override { return link_.Connect(); }
  const KT_ErrorStatus& LastError() const override { return link_; }
  std::unique_ptr<SerialUpsProtocol> CreateProtocol(int protocol) override {
    std::unique_ptr<KT_UpsProtocol> p = CreateUpsProtocol(protocol, scp_);
    if (!p) return nullptr;
    p->SetRecordFileWriter(writer_);
    return std::make_unique<KT_SerialProtocolDriver>(std::move(p));
  }

 private:
  KT_SCP& scp_;
  KT_LinkSetup link_;
  KT_UpsProtocol::RecordFileWriter writer_;
};
