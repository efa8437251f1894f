// KT_Harvan: the Varnis II text protocol on the serial port, protocol code 1, 1200 baud.
//
// A request is two carriage returns and a command of the table in agent/protocols/harvan_decoder.h
// ("UPSS\r", "UPSN\r" "0\r", ...); every reply is key CR value CR lines, decoded by the
// HarvanReplyDecoder. Requests by operation: Probe "UPTP"; UpdateStatus "UPSS"; UpdateInfo
// "UPSN 0", "UPTP", the meters, "UPDV"; UpdateMeter "UPDS"; UpdateCapabilities "UPCL".
//
// Switching the output: UPSes that list "UP??" take binary load commands (frames 0x80,
// command, n, data, sum, echoed byte for byte when accepted) per load segment; the others
// only the text shutdown sequence "UPSD" delay, "UPCD" 5, "UPPC" confirmation.
//
// Delays never wrap: where a form cannot hold the delay asked for (three digits of "UPSD",
// the 16-bit delay of a binary command) it is cut to the largest value the form holds, with a
// trace line and an error record (12, 8, 1).
//
// Errors: class 12 (functions as in agent/protocols/harvan_decoder.h; 8 load control).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocols/harvan_decoder.h"
#include "agent/protocols/ups_protocol.h"

class KT_Harvan : public KT_UpsProtocol {
 public:
  static constexpr int kProbeRounds = 2;
  static constexpr int kProbeReplyCapacity = 30;
  static constexpr int kMeterWaitMs = 1000;
  // Seconds a general systems test runs before its result is read.
  static constexpr int kTestSeconds = 11;
  static constexpr const char* kSystemsTestName = "33.1.7.7.3";
  // The model whose battery test is "UPBT" with a byte 1.
  static constexpr int kUpbtModel = 12;

  explicit KT_Harvan(KT_SCP& scp);
  ~KT_Harvan() override;

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
  int SegmentOnNow(int segment) override;
  int LoadControl(int kind, int segment, int seconds) override;
  int UpdateCapabilities() override;

  // Sends a text request and decodes its reply (the decoder's result; -1 when nothing could be
  // sent or no reply came).
  int Request(const std::string& text);
  // One binary load command, up to three attempts until the UPS echoes it: 1, or -1.
  int SendLoadCommand(uint8_t command, const std::vector<uint8_t>& data);
  // Asks the number of load segments (binary command 0): the count, or -1.
  int QuerySegmentCount();
  // The text shutdown sequence with a delay in seconds: the confirmation's send result, or -1.
  int TextShutdown(int seconds);

  const std::array<bool, kHarvanCommandCount>& Marks() const { return marks_; }
  HarvanReplyDecoder& Decoder() { return decoder_; }

 private:
  int ReadReply(KT_ReadRecord& record);
  int SendUntil(const std::string& text, const char* answer);
  uint16_t CutDelay(const char* form, int64_t value, int64_t most);

  HarvanReplyDecoder decoder_;
  std::array<bool, kHarvanCommandCount> marks_{};
};

std::unique_ptr<KT_UpsProtocol> MakeHarvanProtocol(KT_SCP& scp);
