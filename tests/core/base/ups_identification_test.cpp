#include "core/base/ups_identification.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string T(int n) { return kModelSubstrings[n]; }

// A reader that counts its calls.
struct Reader {
  std::optional<int32_t> value;
  int calls = 0;
  AdapterValueReader Fn() {
    return [this]() {
      ++calls;
      return value;
    };
  }
};

ModelIdentity Identify(const std::string& model, std::optional<int32_t> va = std::nullopt,
                       std::optional<int32_t> lines = std::nullopt) {
  Reader vaReader{va}, linesReader{lines};
  return IdentifyModel(model, vaReader.Fn(), linesReader.Fn());
}

TEST(VendorIdentification, FirstKnownMakerNameGivesTheCode) {
  EXPECT_EQ(IdentifyManufacturer("OSTREL Corporation"), kManufacturerOwn);
  EXPECT_EQ(IdentifyManufacturer("Harvan Electric"), kManufacturerHarvan);
  EXPECT_EQ(IdentifyManufacturer("American Power Conversion"), kManufacturerAmericanPower);
  EXPECT_EQ(IdentifyManufacturer("Harvan for OSTREL"), kManufacturerOwn);  // OSTREL is tested first
  EXPECT_FALSE(IdentifyManufacturer("ostrel").has_value());                 // case counts
  EXPECT_FALSE(IdentifyManufacturer("").has_value());
  EXPECT_FALSE(IdentifyManufacturer("Unknown Maker").has_value());
}

struct ModelRow {
  std::string text;  // a text that holds this row's substring only
  int model;
  int variant;
};

// The fixed rows of the model table, in table order (rows 1 and 2 without their special cases).
std::vector<ModelRow> FixedRows() {
  return {
      {T(1), 1, 0},        {T(2), 2, 0},   {T(4), 3, 2},   {"Smart-UPS", 8, 2}, {T(5), 10, 2},
      {T(6), 12, 0},       {T(7), 12, 0},  {T(8), 16, 0},  {"VARNIS", 3, 0},    {"L/I", 3, 2},
      {T(9), 15, 2},       {T(10), 15, 2}, {T(11), 18, 2}, {T(12), 19, 2},      {T(13), 18, 2},
      {T(14), 21, 2},      {T(15), 17, 0}, {T(16), 24, 0}, {T(17), 17, 0},      {T(18), 22, 0},
      {T(19), 20, 0},
  };
}

TEST(ModelIdentification, EachNameAloneGivesItsRow) {
  for (const ModelRow& row : FixedRows()) {
    SCOPED_TRACE(row.text);
    ModelIdentity id = Identify("UPS " + row.text + " 1500");
    EXPECT_TRUE(id.matched);
    EXPECT_EQ(id.modelIndex, row.model);
    EXPECT_EQ(id.variant, row.variant);
  }
}

TEST(ModelIdentification, EarlierRowWinsOverEveryLaterName) {
  const std::vector<ModelRow> rows = FixedRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    // the later names first in the text: order in the text must not matter
    std::string text;
    for (size_t j = rows.size(); j-- > i + 1;) {
      if (rows[j].text != "L/I" || rows[i].text != "VARNIS") text += rows[j].text + " ";
    }
    text += rows[i].text;
    SCOPED_TRACE(text);
    ModelIdentity id = Identify(text, 50000, 3);
    EXPECT_EQ(id.modelIndex, i == 1 ? 5 : rows[i].model);  // the second family at 50 kVA
    EXPECT_EQ(id.variant, rows[i].variant);
  }
}

TEST(ModelIdentification, BothT6AndT8GiveModel12) {
  ModelIdentity id = Identify(T(8) + " " + T(6));
  EXPECT_EQ(id.modelIndex, 12);
  EXPECT_EQ(id.variant, 0);
}

TEST(ModelIdentification, FirstFamilyWithTheMakersNameIsModel6) {
  EXPECT_EQ(Identify(std::string(kMakerCompanyName) + " " + T(1) + " 3000").modelIndex, 6);
  EXPECT_EQ(Identify(T(1) + " 3000").modelIndex, 1);
  EXPECT_EQ(Identify(T(1) + " by " + kMakerCompanyName).modelIndex, 1);
}

TEST(ModelIdentification, SecondFamilyByRatingAndCompactFrame) {
  EXPECT_EQ(Identify(T(2), std::nullopt).modelIndex, 2);  // rating unreadable
  EXPECT_EQ(Identify(T(2), 29999).modelIndex, 2);
  EXPECT_EQ(Identify(T(2), 30000).modelIndex, 5);
  EXPECT_EQ(Identify(T(2) + " " + T(3), 60000).modelIndex, 2);
  EXPECT_EQ(Identify(T(2), -1).modelIndex, 2);
  EXPECT_EQ(Identify(T(2), 30000).variant, 0);

  Reader va{60000}, lines{3};
  IdentifyModel(T(2) + " " + T(3), va.Fn(), lines.Fn());
  EXPECT_EQ(va.calls, 0);  // the compact frame needs no rating
  EXPECT_EQ(lines.calls, 0);
  EXPECT_EQ(IdentifyModel(T(2), nullptr, nullptr).modelIndex, 2);  // no reader: unreadable
}

TEST(ModelIdentification, VarnisVariantFollowsLI) {
  ModelIdentity id = Identify("VARNIS 2000 L/I");
  EXPECT_EQ(id.modelIndex, 3);
  EXPECT_EQ(id.variant, 2);
  id = Identify("VARNIS 2000");
  EXPECT_EQ(id.modelIndex, 3);
  EXPECT_EQ(id.variant, 0);
}

TEST(ModelIdentification, UnknownNameDependsOnInputLines) {
  ModelIdentity id = Identify("Mystery 10K", std::nullopt, 3);
  EXPECT_TRUE(id.matched);
  EXPECT_EQ(id.modelIndex, 13);
  EXPECT_EQ(id.variant, 0);
  EXPECT_FALSE(Identify("Mystery 10K", std::nullopt, 1).matched);  // the block keeps its values
  EXPECT_FALSE(Identify("Mystery 10K", std::nullopt, std::nullopt).matched);
  EXPECT_FALSE(Identify("", std::nullopt, 0).matched);
  EXPECT_FALSE(Identify(T(3)).matched);  // the compact mark alone names no model

  Reader va{1000}, lines{3};
  IdentifyModel(T(6), va.Fn(), lines.Fn());
  EXPECT_EQ(va.calls + lines.calls, 0);  // a named model reads nothing further
}

TEST(ModelIdentification, NamesAreCaseSensitive) {
  EXPECT_EQ(Identify("nordax 1000").matched, false);
  EXPECT_EQ(Identify("NORDAX 1000").modelIndex, 18);
  EXPECT_EQ(Identify("smart-ups").matched, false);
}

TEST(RatingText, VaBelow1000ElseKva) {
  EXPECT_EQ(RatingText(999), "999 VA");
  EXPECT_EQ(RatingText(1000), "1.00 kVA");
  EXPECT_EQ(RatingText(1500), "1.50 kVA");
  EXPECT_EQ(RatingText(0), "0 VA");
  EXPECT_EQ(RatingText(30000), "30.00 kVA");
  EXPECT_EQ(RatingText(2147483647), "2147483.65 kVA");
}

}  // namespace
