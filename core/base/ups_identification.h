// Identification of a UPS reached through a network adapter: the UPS information block's
// manufacturer code from upsIdentManufacturer, its model index and variant code from
// upsIdentModel, and the rating text that stands for the model text of such a UPS.
//
// The functions compute only; the adapter client reads the objects and writes the results
// into the UPS information block (a result that says "no match" leaves the block as it was).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Manufacturer codes that the adapter's manufacturer text can give.
inline constexpr int kManufacturerOwn = 0;       // "OSTREL", the system's own maker
inline constexpr int kManufacturerHarvan = 1;    // "Harvan"
inline constexpr int kManufacturerAmericanPower = 4;  // "American Power"

// Company name as the maker writes it in front of its own model family names.
inline constexpr const char* kMakerCompanyName = "OSTREL";

// The model-name substrings looked for in upsIdentModel, kModelSubstrings[1] .. [19]
// (entry 0 unused): model family names of the maker and model and brand names of OEM partners.
// Matching is case-sensitive.
extern const char* const kModelSubstrings[20];

// The manufacturer code of the first known maker name contained in the text, in the order
// "OSTREL", "Harvan", "American Power"; nullopt when none is contained.
std::optional<int> IdentifyManufacturer(std::string_view manufacturer);

struct ModelIdentity {
  bool matched = false;  // false: the block keeps its model index and variant
  int modelIndex = 0;
  int variant = 0;
};

// Reader of one adapter value (upsConfigOutputVA, upsInputNumLines); nullopt when the value
// cannot be read.
using AdapterValueReader = std::function<std::optional<int32_t>()>;

// Tests the model text against the ordered model rules; the first rule that holds gives the
// model index and variant. The readers are called only by the rules that need them: the VA
// rating for the second model family, the number of input lines when no substring matched.
// A null reader counts as a value that cannot be read.
ModelIdentity IdentifyModel(std::string_view model, const AdapterValueReader& readOutputVA,
                            const AdapterValueReader& readInputLines);

// The rating text of a UPS reached through an adapter: "%d VA" below 1000 VA, otherwise
// "%4.2f kVA" of the rating x 0.001 (1500 gives "1.50 kVA").
std::string RatingText(int32_t va);
