// KT_LinkSetup: finds out which kind of UPS hangs on the configured serial port.
//
// DetectUpsType tries the protocols in a fixed order and stops at the first that answers;
// each try builds its own protocol object, opens the port at the try's speed and closes it
// again before the next:
//   1. line probe at 1200 baud on a BCM object: DTR pulsed (on, off, on; 200 ms each, RTS off),
//      then up to 3 s for any bytes. An answer means a UPS with a service menu on the line:
//      the BCM baud scan (ChangeBaud) runs; found ends detection, nothing found goes on.
//   2. Varnis II at 1200 baud: cable test (function 3), then its probe.
//   3. APC Smart-UPS at 2400 baud: cable test (function 5), then "Y" must answer "SM".
//   4. contact closure at 1200 baud: cable test (function 4), then a modem must not answer
//      "ATQ0", then the transmit line must be looped back.
//   5. BCM at the stored speed: the baud scan.
// A failed cable test ends detection (it is not worth trying the others without a cable).
//
// The object's error record (class 23) tells the caller why detection failed:
//   function 1 reading the settings, 2 detection, 3 Varnis II, 4 contact closure, 5 APC;
//   code 1 the cable test could not be made, 2 the cable is missing (shown as "cable
//   removed"), 3 a modem answered ("not a UPS"), 4 the port could not be opened, 5 the probe
//   or the port failed.
//
// ChangeBaud (the BCM baud scan) steps through 1200, 2400, 4800, 9600, 19200 baud (codes 2..6,
// wrapping from 6 to 2) from the current code and stops when it would come back to where it
// started; a start outside that ring scans the ring once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/base/error_status.h"

class KT_SCP;
class KT_UpsProtocol;

class KT_LinkSetup : public KT_ErrorStatus {
 public:
  // Error record functions and codes.
  enum : int32_t {
    FN_READ_SETTINGS = 1,
    FN_DETECT = 2,
    FN_VARNIS = 3,
    FN_CONTACT_CLOSURE = 4,
    FN_APC = 5,
  };
  enum : int32_t {
    CODE_NO_PORT_NAME = 1,
    CODE_CABLE_TEST_FAILED = 1,
    CODE_CABLE_MISSING = 2,
    CODE_NOT_A_UPS = 3,
    CODE_OPEN_FAILED = 4,
    CODE_PORT_FAILED = 5,
  };
  // Baud-rate codes of the scan.
  static constexpr int kFirstScanCode = 2;  // 1200 baud
  static constexpr int kLastScanCode = 6;   // 19200 baud
  static constexpr int kUnknownBaud = 255;

  explicit KT_LinkSetup(KT_SCP& scp);
  ~KT_LinkSetup();
  KT_LinkSetup(const KT_LinkSetup&) = delete;
  KT_LinkSetup& operator=(const KT_LinkSetup&) = delete;

  // Reads the port and speed from the configuration block, detects the UPS and, when one was
  // found, writes back the port and the speed that worked and posts the first requests:
  // 1 found, 0 no UPS answered, -1 failed (see the error record).
  int Connect();
  // Detection on the port and speed held by the object: 1 found, 0 nothing, -1 failed.
  int DetectUpsType();
  // The BCM baud scan from the object's current code: 1 found (the code that worked is
  // kept), 0 nothing, -1 failed.
  int ChangeBaud();

  const std::optional<std::string>& PortName() const { return port_name_; }
  void SetPortName(const std::string& name) { port_name_ = name; }
  int BaudCode() const { return baud_; }
  void SetBaudCode(int code) { baud_ = code; }

  // The code after `code` in the scan ring (any code outside it leads to the first).
  static int NextScanCode(int code);

  // Where the BCM and Varnis II protocol objects come from (MakeBcmProtocol and
  // MakeHarvanProtocol unless replaced, as tests do).
  using ProtocolMaker = std::function<std::unique_ptr<KT_UpsProtocol>(KT_SCP&)>;
  void SetBcmMaker(ProtocolMaker maker) { make_bcm_ = std::move(maker); }
  void SetVarnisMaker(ProtocolMaker maker) { make_varnis_ = std::move(maker); }

 private:
  int Fail(int32_t function, int32_t code, int32_t systemError = 0);
  // Opens the object on the port at the code; -1 (error function/4) when it cannot.
  int OpenAt(KT_UpsProtocol& protocol, int code, int32_t function);
  // The cable test of a step: 1 present; -1 with the error record filled otherwise.
  int CableTest(KT_UpsProtocol& protocol, int32_t function);
  // DTR pulses, then up to 3 s for any bytes: 1 something answered, 0 silence, -1 error.
  int LineProbe(KT_UpsProtocol& protocol);
  // The steps of DetectUpsType: 1 found, 0 go on, -1 stop.
  int TryLineProbe();
  int TryVarnis();
  int TryApc();
  int TryContactClosure();
  // Records what was found in the SCP object.
  void Found(int protocol, int interfaceType, int commMode);
  void PostFirstRequests();

  KT_SCP& scp_;
  ProtocolMaker make_bcm_;
  ProtocolMaker make_varnis_;
  std::optional<std::string> port_name_;
  int baud_ = kUnknownBaud;
};
