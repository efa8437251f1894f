// One pager recipient of the notification: who is paged, through which paging company
// (telephone number, PIN, TAP protocol) and with which modem on which serial line.
//
// Every text has the limits of the paging dialog and protocol; a setter given a null text or
// a text outside its limits answers -1, keeps the old value and records class 2 with the
// setter's function and code 1 (null) or 2 (length).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/scp/port_settings.h"

class KT_PagerConfig : public KT_PortSettings {
 public:
  // Function numbers of the setters' error records (class 2).
  enum : int32_t {
    FN_NAME = 10,
    FN_ACCESS_NUMBER = 11,
    FN_PIN = 12,
    FN_DIAL_STRING = 13,
    FN_INIT_STRING = 14,
    FN_MODEM_NAME = 15,
    FN_MAX_CHARACTERS = 16,
    FN_DELAY_SECONDS = 17,
    FN_TERMINATION = 18,
  };

  KT_PagerConfig() = default;
  KT_PagerConfig(const KT_PagerConfig&) = default;
  KT_PagerConfig& operator=(const KT_PagerConfig&) = default;

  // Equal when name and access number are equal.
  bool operator==(const KT_PagerConfig& other) const {
    return name_ == other.name_ && access_number_ == other.access_number_;
  }

  // Each 0 when stored, -1 otherwise.
  int SetName(const char* text);               // 1..20 characters
  int SetAccessNumber(const char* text);       // telephone number, 1..40
  int SetPin(const char* text);                // 1..40
  int SetDialString(const char* text);         // under 6
  int SetInitString(const char* text);         // under 66
  int SetModemName(const char* text);          // up to 40
  int SetMaxCharacters(const char* text);      // 1..5 characters
  int SetDelaySeconds(const char* text);       // under 6
  int SetTermination(const char* text);        // under 6
  void SetTap(uint8_t on) { tap_ = on; }

  const std::optional<std::string>& GetName() const { return name_; }
  const std::optional<std::string>& GetAccessNumber() const { return access_number_; }
  const std::optional<std::string>& GetPin() const { return pin_; }
  const std::optional<std::string>& GetDialString() const { return dial_string_; }
  const std::optional<std::string>& GetInitString() const { return init_string_; }
  const std::optional<std::string>& GetModemName() const { return modem_name_; }
  const std::optional<std::string>& GetMaxCharacters() const { return max_characters_; }
  const std::optional<std::string>& GetDelaySeconds() const { return delay_seconds_; }
  const std::optional<std::string>& GetTermination() const { return termination_; }
  uint8_t GetTap() const { return tap_; }

 private:
  int Store(std::optional<std::string>& slot, const char* text, size_t min, size_t max, int32_t function);

  std::optional<std::string> name_;
  std::optional<std::string> access_number_;
  std::optional<std::string> pin_;
  std::optional<std::string> dial_string_;
  std::optional<std::string> init_string_;
  std::optional<std::string> modem_name_;
  std::optional<std::string> max_characters_;
  std::optional<std::string> delay_seconds_;
  std::optional<std::string> termination_;
  uint8_t tap_ = 0;
};
