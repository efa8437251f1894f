#include "core/base/ups_identification.h"

#include <cstdio>
#include <string>

// T1..T19: configuration data. The names are the families and OEM names this product line
// knows; none of them contains another one, nor "Smart-UPS", "VARNIS" or "L/I".
const char* const kModelSubstrings[20] = {
    "",           // unused
    "Aurora",     // T1: the maker's first model family
    "Meridian",   // T2: the maker's second model family
    "Compact",    // T3: the small-frame variant of the second family
    "Sentinel",   // T4
    "Keepwell",   // T5: an OEM model
    "Halcyon",    // T6
    "Bastion",    // T7
    "Keystone",   // T8
    "Vantage",    // T9
    "Orion",      // T10
    "NORDAX",     // T11: an OEM brand, written in capitals
    "Tessera",    // T12
    "Quillon",    // T13
    "Lumen",      // T14
    "Cobalt",     // T15
    "Zephyr",     // T16
    "Granite",    // T17
    "Harbor",     // T18
    "Summit",     // T19
};

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool ContainsT(std::string_view text, int n) { return Contains(text, kModelSubstrings[n]); }

std::optional<int32_t> Read(const AdapterValueReader& reader) {
  if (!reader) return std::nullopt;
  return reader();
}

// Rules 3..20 of the model table: one substring (or two, for T6/T7) gives a fixed result.
struct FixedRule {
  const char* text;   // a literal text, or null to use kModelSubstrings[t1]
  int t1;
  int t2;             // a second substring that also matches, 0 for none
  int modelIndex;
  int variant;
};

}  // namespace

std::optional<int> IdentifyManufacturer(std::string_view manufacturer) {
  if (Contains(manufacturer, "OSTREL")) return kManufacturerOwn;
  if (Contains(manufacturer, "Harvan")) return kManufacturerHarvan;
  if (Contains(manufacturer, "American Power")) return kManufacturerAmericanPower;
  return std::nullopt;
}

ModelIdentity IdentifyModel(std::string_view model, const AdapterValueReader& readOutputVA,
                            const AdapterValueReader& readInputLines) {
  ModelIdentity id;
  // 1: the first family; model 6 when the maker's own name stands in front of it.
  if (ContainsT(model, 1)) {
    const std::string branded = std::string(kMakerCompanyName) + " " + kModelSubstrings[1];
    id.matched = true;
    id.variant = 0;
    id.modelIndex = Contains(model, branded) ? 6 : 1;
    return id;
  }
  // 2: the second family; the large frames (30 kVA and up) are model 5 unless compact.
  if (ContainsT(model, 2)) {
    id.matched = true;
    id.variant = 0;
    if (ContainsT(model, 3)) {
      id.modelIndex = 2;
    } else {
      const std::optional<int32_t> va = Read(readOutputVA);
      id.modelIndex = (!va || *va < 30000) ? 2 : 5;
    }
    return id;
  }
  static const FixedRule kBeforeVarnis[] = {
      {nullptr, 4, 0, 3, 2},
      {"Smart-UPS", 0, 0, 8, 2},
      {nullptr, 5, 0, 10, 2},
      {nullptr, 6, 7, 12, 0},
      {nullptr, 8, 0, 16, 0},
  };
  static const FixedRule kAfterVarnis[] = {
      {"L/I", 0, 0, 3, 2},
      {nullptr, 9, 0, 15, 2},
      {nullptr, 10, 0, 15, 2},
      {nullptr, 11, 0, 18, 2},
      {nullptr, 12, 0, 19, 2},
      {nullptr, 13, 0, 18, 2},
      {nullptr, 14, 0, 21, 2},
      {nullptr, 15, 0, 17, 0},
      {nullptr, 16, 0, 24, 0},
      {nullptr, 17, 0, 17, 0},
      {nullptr, 18, 0, 22, 0},
      {nullptr, 19, 0, 20, 0},
  };
  auto holds = [&](const FixedRule& rule) {
    if (rule.text != nullptr) return Contains(model, rule.text);
    return ContainsT(model, rule.t1) || (rule.t2 != 0 && ContainsT(model, rule.t2));
  };
  for (const FixedRule& rule : kBeforeVarnis) {
    if (holds(rule)) return ModelIdentity{true, rule.modelIndex, rule.variant};
  }
  if (Contains(model, "VARNIS")) return ModelIdentity{true, 3, Contains(model, "L/I") ? 2 : 0};
  for (const FixedRule& rule : kAfterVarnis) {
    if (holds(rule)) return ModelIdentity{true, rule.modelIndex, rule.variant};
  }
  // No known name: a three-line UPS is model 13; anything else keeps what the block has.
  const std::optional<int32_t> lines = Read(readInputLines);
  if (lines && *lines == 3) return ModelIdentity{true, 13, 0};
  return id;
}

std::string RatingText(int32_t va) {
  char text[64];
  if (va < 1000) {
    std::snprintf(text, sizeof text, "%d VA", static_cast<int>(va));
  } else {
    std::snprintf(text, sizeof text, "%4.2f kVA", static_cast<double>(va) * 0.001);
  }
  return text;
}
