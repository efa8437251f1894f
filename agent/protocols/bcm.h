// KT_BCM: the maker's binary UPS protocol (BCM) on the serial port, protocol code 0.
//
// Every request is one block (core/adapters/bcm_block.h: 0xAB, n, payload, checksum); commands go out
// after an authorization block and a one-second pause, and the UPS acknowledges them with a
// type-9 reply (result code, command). Replies are read whole and may hold several blocks
// and several replies; each is decoded into the SCP object by the BcmReplyDecoder.
//
// Requests by operation: UpdateStatus '3' then '5'; UpdateInfo '1' (then '6' and '<' when the
// UPS offers them); UpdateMeter '4'; UpdateAlarmQueue '2'; UpdateConfig '<'; UpdateWaveform
// ':'; UpdateBatteryTest ';'; UpdateCapabilities '@' and 'A'. Commands: SetConfig 149,
// InitiateBatteryTest 177, LoadControl 138 / 145..148 / 151.
//
// Some UPSes show a text service menu on the same line: the probe recognises its prompt
// (">>>") and walks the menu into binary mode; models that fall back into their menu are
// brought back with the menu's quit key and a resynchronisation.
//
// Delays never wrap: a turn-off delay goes out in the first command form that carries it
// whole (138 with two delay bytes, 147 in whole minutes rounded up, 148 at a local time);
// only where the UPS takes none of them is it cut to the largest value the form holds, with
// a trace line and an error record (11, 16, 1).
//
// Errors: class 11 (functions as in core/adapters/bcm_decoder.h; 1 send: code 1 empty request, 4 no
// reply; 16 load control: 1 a delay was cut, 2 a local-time failure).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/adapters/bcm_decoder.h"
#include "agent/protocols/ups_protocol.h"

class KT_BCM : public KT_UpsProtocol {
 public:
  // Result of ProcessBlock asking the caller to send its request once more.
  static constexpr int kRepeatRequest = 127;
  // Pause after the authorization block, and before reading a probe's answer.
  static constexpr int kAuthorizationPauseMs = 1000;
  static constexpr int kProbeWaitMs = 1000;
  // Menu keys.
  static constexpr uint8_t kMenuInterrupt = 3;
  static constexpr uint8_t kMenuQuit = 'Q';
  // Test names of the battery log.
  static constexpr const char* kBatteryTestName = "33.1.7.7.4";

  explicit KT_BCM(KT_SCP& scp);
  ~KT_BCM() override;

  int Probe() override;
  int SendRequest(const uint8_t* bytes, int count, int authorize) override;
  int ProcessBlock(KT_ReadRecord& record) override;
  int UpdateInfo() override;
  int UpdateMeter() override;
  int UpdateConfig() override;
  int SetConfig() override;
  int InitiateBatteryTest() override;
  int UpdateBatteryTest() override;
  int UpdateStatus() override;
  int UpdateAlarmQueue() override;
  int UpdateWaveform(int kind, int flag) override;
  int SegmentOnNow(int segment) override;
  int LoadControl(int kind, int segment, int seconds) override;
  int UpdateCapabilities() override;

  // Sends a request, reads one reply and decodes it; once more when the decoder asks for it.
  // The decoder's result; -1 when nothing could be sent or no reply came.
  int RequestBlock(uint8_t request);
  int RequestBlock(const std::vector<uint8_t>& request);
  // The same for a command (with authorization), then checks the acknowledgement: 1 accepted,
  // 0 refused, -1 no acknowledgement of this command.
  int SendCommand(const std::vector<uint8_t>& command);

  // Service menu: one key and its prompt (1 found, 0 no answer or no prompt, -1 port error);
  // the walk into binary mode (1, or -1); the resynchronisation (>= 0, or -1).
  int MenuKey(uint8_t key);
  int EnterBcm();
  int Resync();

  BcmReplyDecoder& Decoder() { return decoder_; }
  const BcmReplyDecoder& Decoder() const { return decoder_; }

 private:
  int BatteryTestState(uint8_t state);
  int SwitchWholeUps(bool on, int seconds);
  int DelayedOffWholeUps(int seconds);
  int DateCommand(uint8_t command, int seconds);
  // Reports a delay cut to what a command form holds.
  void DelayCut(const char* form, int seconds, int sent);
  int FailWith(int32_t function, int32_t code);

  BcmReplyDecoder decoder_;
  bool resyncing_ = false;
};

std::unique_ptr<KT_UpsProtocol> MakeBcmProtocol(KT_SCP& scp);
