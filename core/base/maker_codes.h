// The maker's data that the serial UPS protocols match on: the BCM authorization code, the
// model names a BCM identification can carry, the model code whose watt rating counts three
// times, and the model codes a Varnis II UPS names itself by. The agent's drivers and the
// simulated UPSes (tools/) take them from here, so both ends always agree.
//
// The values are this installation's own choice; the model names are those of the adapter
// identification table (core/base/ups_identification.h), referred to by their number there.
#pragma once

#include <cstddef>
#include <cstdint>

// Payload of the BCM authorization block that goes before every command.
inline constexpr uint8_t kBcmAuthorizationCode[4] = {0x4B, 0x39, 0xD2, 0x61};

// The model names of a BCM identification, tested in this order; the first whose text occurs
// gives the model index. `substring` indexes kModelSubstrings (core/base/ups_identification.h).
struct BcmModelName {
  int substring;
  int modelIndex;
};
inline constexpr BcmModelName kBcmModelNames[10] = {
    {1, 1},    // the first family
    {15, 17},
    {18, 22},
    {11, 18},  // the OEM brand
    {14, 21},
    {12, 19},
    {19, 20},
    {16, 24},
    {2, 2},    // the second family, North American build: only while no model is known yet
    {5, 10},   // the OEM model: variant 2
};
// Entries that do more than give the model index.
inline constexpr size_t kBcmNorthAmericanModel = 8;
inline constexpr size_t kBcmOemModel = 9;

// A BCM model name containing this code carries a three-phase frame whose rating block
// reports the watt rating of one phase.
inline constexpr const char* kBcmTripleWattCode = "3PH";

// Model codes that a Varnis II UPS may name in its NNAME text, by the model index they give.
struct VarnisModelGroup {
  int modelIndex;
  const char* codes[3];  // null-terminated when shorter
};
inline constexpr VarnisModelGroup kVarnisModelGroups[3] = {
    {12, {"HLC", "BST", nullptr}},
    {13, {"TRD", nullptr, nullptr}},
    {16, {"KST", nullptr, nullptr}},
};

// The model names of a UPS behind a network BCM adapter, tested in this order on the model
// name of the adapter's identification; the first that occurs gives model index and variant.
// An entry names either a substring of the adapter identification table (`substring`, its
// number there) or a model code (`code`). The four model-13 codes are three-phase frames whose
// identification reports the rating of one phase: the driver multiplies the rating by the
// identification's phase count and writes the model text again.
struct NetBcmModelName {
  int substring;     // 0: use `code`
  const char* code;  // null when `substring` is used
  int modelIndex;
  int variant;
  bool ratingPerPhase;
};
inline constexpr NetBcmModelName kNetBcmModelNames[7] = {
    {5, nullptr, 10, 2, false},  // the OEM family
    {0, "KST", 16, 0, false},
    {0, "KSL", 16, 0, false},
    {0, "TRD", 13, 0, true},
    {0, "TRH", 13, 0, true},
    {0, "TRM", 13, 0, true},
    {0, "TRS", 13, 0, true},
};
