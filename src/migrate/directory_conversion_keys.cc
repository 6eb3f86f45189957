#include "migrate/directory_conversion_keys.h"

namespace qz7::migrate {
namespace {

constexpr ConversionKeys kLayout1Keys = {
    .allocation = "MTYPE1_001",
    .open = "MTYPE1_002",
    .shortHeader = {"MTYPE1_003", "MTYPE1_004"},
    .longHeader = {"MTYPE1_003", "MTYPE1_004"},
    .newHeader = "MTYPE1_005",
    .newBlock = "MTYPE1_006",
    .shortEntries = {"MTYPE1_007", "MTYPE1_008", "MTYPE1_009", nullptr, nullptr, nullptr, nullptr},
    .longEntries = {"MTYPE1_007", "MTYPE1_008", "MTYPE1_009", nullptr, nullptr, nullptr, nullptr},
    .reportNotice = nullptr,
    .slotAllocation = nullptr,
    .slotRead = nullptr,
    .slotWrite = nullptr,
    .closingValue = "MTYPE1_010",
    .rewind = "MTYPE1_011",
    .finalHeader = "MTYPE1_012",
    .finalBlock = "MTYPE1_013",
    .closeSource = "MTYPE1_014",
    .copyBack = {"MTYPE1_015", "MTYPE1_016", "MTYPE1_017", "MTYPE1_018", "MTYPE1_019", "MTYPE1_020",
                 "MTYPE1_021", "MTYPE1_022", "MTYPE1_023", "MTYPE1_024"},
    .intentionOpen = nullptr,
    .intentionRead = nullptr,
    .intentionCloseOld = nullptr,
    .intentionCreate = "MTYPE1_025",
    .intentionWrite = "MTYPE1_026",
    .cleanup = {"MTYPE1_028", "MTYPE1_029", "MTYPE1_030", "MTYPE1_031", "MTYPE1_032", nullptr},
};

constexpr ConversionKeys kLayout2Keys = {
    .allocation = "MTYPE2_001",
    .open = "MTYPE2_002",
    .shortHeader = {"MTYPE2_003", "MTYPE2_004"},
    .longHeader = {"MTYPE2_003", "MTYPE2_004"},
    .newHeader = "MTYPE2_005",
    .newBlock = "MTYPE2_006",
    .shortEntries = {"MTYPE2_007", "MTYPE2_008", "MTYPE2_014", "MTYPE2_009", "MTYPE2_010",
                     "MTYPE2_011", "MTYPE2_012"},
    .longEntries = {"MTYPE2_007", "MTYPE2_008", "MTYPE2_014", "MTYPE2_009", "MTYPE2_010",
                    "MTYPE2_011", "MTYPE2_012"},
    .reportNotice = "MTYPE2_013",
    .slotAllocation = "MTYPE2_015",
    .slotRead = "MTYPE2_016",
    .slotWrite = "MTYPE2_017",
    .closingValue = "MTYPE2_018",
    .rewind = "MTYPE2_019",
    .finalHeader = "MTYPE2_020",
    .finalBlock = "MTYPE2_021",
    .closeSource = "MTYPE2_022",
    .copyBack = {"MTYPE2_023", "MTYPE2_024", "MTYPE2_025", "MTYPE2_026", "MTYPE2_027", "MTYPE2_028",
                 "MTYPE2_029", "MTYPE2_030", "MTYPE2_031", "MTYPE2_032"},
    .intentionOpen = "MTYPE2_033",
    .intentionRead = "MTYPE2_034",
    .intentionCloseOld = "MTYPE2_042",
    .intentionCreate = "MTYPE2_035",
    .intentionWrite = "MTYPE2_036",
    // Two of these keys have always been written without their leading zero.
    .cleanup = {"MTYPE2_037", "MTYPE2_38", "MTYPE2_039", "MTYPE2_40", "MTYPE2_041", nullptr},
};

constexpr ConversionKeys kLayout3Keys = {
    .allocation = "MTYPE3_001",
    .open = "MTYPE3_002",
    .shortHeader = {"MTYPE3_003", "MTYPE3_004"},
    .longHeader = {"MTYPE3_005", "MTYPE3_006"},
    .newHeader = "MTYPE3_007",
    .newBlock = "MTYPE3_008",
    .shortEntries = {"MTYPE3_009", "MTYPE3_010", "MTYPE3_011", "MTYPE3_012", "MTYPE3_013",
                     "MTYPE3_014", "MTYPE3_015"},
    // The entry write and the report's separator share a key.
    .longEntries = {"MTYPE3_017", "MTYPE3_018", "MTYPE3_022", "MTYPE3_019", "MTYPE3_020",
                    "MTYPE3_021", "MTYPE3_022"},
    .reportNotice = nullptr,
    .slotAllocation = "MTYPE3_023",
    .slotRead = "MTYPE3_024",
    .slotWrite = "MTYPE3_025",
    .closingValue = "MTYPE3_026",
    .rewind = "MTYPE3_027",
    .finalHeader = "MTYPE3_028",
    .finalBlock = "MTYPE3_029",
    .closeSource = "MTYPE3_030",
    .copyBack = {"MTYPE3_031", "MTYPE3_032", "MTYPE3_033", "MTYPE3_034", "MTYPE3_035", "MTYPE3_036",
                 "MTYPE3_037", "MTYPE3_038", "MTYPE3_039", "MTYPE3_040"},
    .intentionOpen = "MTYPE3_041",
    .intentionRead = "MTYPE3_041",
    .intentionCloseOld = "MTYPE3_041",
    .intentionCreate = "MTYPE3_042",
    .intentionWrite = "MTYPE3_042",
    .cleanup = {"MTYPE3_043", "MTYPE3_044", "MTYPE3_045", "MTYPE3_046", "MTYPE3_047", "MTYPE3_049"},
};

constexpr ConversionKeys kLayout4Keys = {
    .allocation = "MTYPE4_001",
    .open = "MTYPE4_002",
    .shortHeader = {"MTYPE4_003", "MTYPE4_004"},
    .longHeader = {"MTYPE4_003", "MTYPE4_004"},
    .newHeader = "MTYPE4_005",
    .newBlock = "MTYPE4_006",
    .shortEntries = {"MTYPE4_007", "MTYPE4_008", "MTYPE4_009", nullptr, nullptr, nullptr, nullptr},
    .longEntries = {"MTYPE4_007", "MTYPE4_008", "MTYPE4_009", nullptr, nullptr, nullptr, nullptr},
    .reportNotice = nullptr,
    .slotAllocation = "MTYPE4_010",
    .slotRead = "MTYPE4_011",
    .slotWrite = "MTYPE4_012",
    .closingValue = "MTYPE4_013",
    .rewind = "MTYPE4_014",  // one seek straight past the header
    .finalHeader = nullptr,
    .finalBlock = "MTYPE4_015",
    .closeSource = "MTYPE4_016",
    .copyBack = {"MTYPE4_017", "MTYPE4_018", "MTYPE4_019", "MTYPE4_020", "MTYPE4_021", "MTYPE4_022",
                 "MTYPE4_023", "MTYPE4_024", "MTYPE4_025", "MTYPE4_026"},
    .intentionOpen = "MTYPE4_031",
    .intentionRead = "MTYPE4_031",
    .intentionCloseOld = "MTYPE4_031",
    .intentionCreate = "MTYPE4_032",
    .intentionWrite = "MTYPE4_032",
    .cleanup = {"MTYPE4_027", "MTYPE4_028", "MTYPE4_029", "MTYPE4_030", "MTYPE4_030", nullptr},
};

}  // namespace

const ConversionKeys& ConversionKeysOf(base::DirectoryLayoutType layout) {
  switch (layout) {
    case base::DirectoryLayoutType::kLayout1:
      return kLayout1Keys;
    case base::DirectoryLayoutType::kLayout2:
      return kLayout2Keys;
    case base::DirectoryLayoutType::kLayout3:
      return kLayout3Keys;
    default:
      return kLayout4Keys;
  }
}

}  // namespace qz7::migrate
