#include "macro/legacy_rules.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <string_view>

#include "platform/platform.h"

namespace macro::legacy {
namespace {

// ---- Command codes -----------------------------------------------------------------------

// Runs of consecutive old codes onto consecutive new codes.
struct CodeRun {
  uint16_t first, last, to;
};
constexpr CodeRun kCodeRuns[] = {
    {0x010, 0x014, 0x1001}, {0x020, 0x026, 0x1101}, {0x028, 0x028, 0x1109}, {0x029, 0x029, 0x230D},
    {0x030, 0x036, 0x1201}, {0x040, 0x046, 0x2101}, {0x050, 0x058, 0x6101}, {0x060, 0x061, 0x2301},
    {0x062, 0x065, 0x2201}, {0x066, 0x067, 0x2303}, {0x06A, 0x06A, 0x2307}, {0x06D, 0x06F, 0x230A},
    {0x070, 0x078, 0x1301}, {0x080, 0x088, 0x6501}, {0x089, 0x08F, 0x6401}, {0x090, 0x095, 0x2401},
    {0x0A0, 0x0A1, 0x3303}, {0x0A2, 0x0A3, 0x3201}, {0x0A4, 0x0A6, 0x3101}, {0x0A7, 0x0AF, 0x3203},
    {0x0B0, 0x0BD, 0x4301}, {0x0C1, 0x0C8, 0x4101}, {0x0D0, 0x0D0, 0x2501}, {0x0D2, 0x0D8, 0x2503},
    {0x0E0, 0x0E4, 0x6201}, {0x0E5, 0x0E6, 0x6301}, {0x0F0, 0x0FA, 0x4201}, {0x161, 0x161, 0x230E},
    {0x181, 0x183, 0x650A}, {0x191, 0x192, 0x3301}, {0x193, 0x193, 0x3106}, {0x195, 0x195, 0x3108},
    {0x197, 0x198, 0x310A},
};

// ---- Parameter records -------------------------------------------------------------------

// Payload sizes by new code; `variable` sizes are a base plus the closing text.
struct SizeRow {
  uint16_t first, last;
  uint32_t size;  // 0: computed
  bool variable;
};
constexpr SizeRow kSizes[] = {
    {0x1001, 0x1003, 132, false},  {0x1004, 0x1005, 10, true},    {0x1101, 0x1106, 384, false},
    {0x1107, 0x1107, 0, false},    {0x3106, 0x3106, 0, false},    {0x3201, 0x3201, 0, false},
    {0x420A, 0x420A, 0, false},    {0x6302, 0x6302, 0, false},    {0x1109, 0x1109, 4300, false},
    {0x1201, 0x1201, 866, true},   {0x1202, 0x1202, 1128, true},  {0x1204, 0x1204, 1772, false},
    {0x1205, 0x1205, 1384, false}, {0x1206, 0x1206, 1244, false}, {0x1207, 0x1207, 1250, true},
    {0x1301, 0x1309, 2734, false}, {0x230E, 0x230E, 2734, false}, {0x2101, 0x2101, 128, false},
    {0x2102, 0x2102, 3718, false}, {0x2103, 0x2103, 2804, false}, {0x2104, 0x2104, 604, false},
    {0x2105, 0x2105, 3196, false}, {0x2106, 0x2106, 2552, false}, {0x2107, 0x2107, 860, false},
    {0x2301, 0x2301, 1570, false}, {0x2304, 0x2304, 1570, false}, {0x2307, 0x2307, 1570, false},
    {0x2303, 0x2303, 2214, false}, {0x2309, 0x2309, 1556, false}, {0x230F, 0x230F, 1814, false},
    {0x230A, 0x230A, 2220, false}, {0x230B, 0x230B, 3604, false}, {0x230C, 0x230C, 2736, false},
    {0x230D, 0x230D, 4172, false}, {0x2405, 0x2405, 130, true},   {0x2406, 0x2406, 130, false},
    {0x2501, 0x2501, 524, false},  {0x2505, 0x2505, 524, false},  {0x2508, 0x2508, 524, false},
    {0x3108, 0x3108, 2796, true},  {0x310A, 0x310A, 996, false},  {0x310B, 0x310B, 728, false},
    {0x3202, 0x3202, 66, false},   {0x3203, 0x3203, 918, false},  {0x3204, 0x3204, 2276, true},
    {0x3205, 0x3205, 3046, false}, {0x3206, 0x3206, 1048, false}, {0x3207, 0x3207, 2728, false},
    {0x3208, 0x3208, 2784, false}, {0x3209, 0x3209, 272, true},   {0x320A, 0x320A, 2740, false},
    {0x320B, 0x320B, 980, false},  {0x3301, 0x3302, 2228, false}, {0x3303, 0x3304, 910, false},
    {0x4101, 0x4101, 1114, true},  {0x4102, 0x4102, 80, false},   {0x4103, 0x4103, 326, false},
    {0x4104, 0x4104, 202, true},   {0x4105, 0x4105, 324, false},  {0x4106, 0x4106, 980, false},
    {0x4107, 0x4108, 80, false},   {0x4201, 0x4201, 976, false},  {0x4202, 0x4202, 66, false},
    {0x4203, 0x4203, 848, false},  {0x4204, 0x4204, 592, true},   {0x4205, 0x4205, 1368, false},
    {0x4206, 0x4206, 586, false},  {0x4207, 0x4208, 326, false},  {0x4209, 0x4209, 66, false},
    {0x420B, 0x420B, 720, false},  {0x4301, 0x430B, 2220, false}, {0x430C, 0x430C, 1044, false},
    {0x430E, 0x430E, 2992, false}, {0x430D, 0x430D, 782, true},   {0x6104, 0x6104, 522, false},
    {0x6109, 0x6109, 522, false},  {0x6501, 0x6503, 522, false},  {0x6105, 0x6105, 1190, true},
    {0x6107, 0x6107, 1236, false}, {0x6201, 0x6203, 140, true},   {0x6204, 0x6204, 396, true},
    {0x6205, 0x6205, 518, false},  {0x6301, 0x6301, 916, true},   {0x6401, 0x6401, 1900, false},
    {0x6405, 0x6405, 1900, false}, {0x6407, 0x6407, 1900, false}, {0x6406, 0x6406, 2420, false},
    {0x6504, 0x6504, 1048, false}, {0x6509, 0x6509, 1048, false}, {0x6507, 0x6507, 2744, false},
    {0x6508, 0x6508, 2478, false}, {0x650A, 0x650B, 1044, false},
};

// The text fields of each code, written "new offset (units) < old offset"; "cut" marks a
// cutting copy and "var" the closing text of variable length.
struct TextRow {
  uint16_t first, last;
  bool old_layout;
  const char* fields;
};
constexpr TextRow kTexts[] = {
    {0x1001, 0x1003, false, "0 (64) < 0"},
    {0x1107, 0x1107, false, "0 (64) < 0"},
    {0x2101, 0x2101, false, "0 (64) < 0"},
    {0x2406, 0x2406, false, "0 (64) < 0"},
    {0x1004, 0x1004, false, "8 (var) < 0"},
    {0x1005, 0x1005, false, "8 (var) < 8"},
    {0x1101, 0x1106, false, "0 (64) < 0; 128 (64) < 261; 256 (64) < 522"},
    {0x1109, 0x1109, false,
     "4 (64) < 3; 132 (64) < 263; 268 (260) < 530; 788 (260) < 790; 1308 (260) < 1050; 1828 (260) < 1310; "
     "2348 (64) < 1570; 2616 (64) < 1840; 2744 (64) < 1904; 2872 (260) < 2164; 3392 (260) < 2424; "
     "3912 (64) < 2684; 4040 (64) < 2944; 4168 (64) < 3204"},
    {0x1202, 0x1202, false,
     "4 (64) < 3; 132 (64) < 133; 260 (64) < 263; 388 (64) < 393; 516 (261) < 523; 1048 (33) < 1056; "
     "1124 (var) < 784"},
    {0x1204, 0x1204, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1566 (65) < 783; 1700 (33) < 820"},
    {0x1205, 0x1205, false, "0 (261) < 0; 522 (33) < 555; 732 (261) < 261; 1254 (65) < 522"},
    {0x1206, 0x1206, false, "0 (261) < 0; 522 (261) < 261; 1044 (65) < 522; 1176 (33) < 557"},
    {0x1207, 0x1207, false, "0 (261) < 0; 522 (261) < 261; 1044 (65) < 522; 1174 (33) < 555; 1248 (var) < 595"},
    {0x1301, 0x1309, false, "2346 (64) < 261; 2474 (64) < 522; 2602 (65) < 783"},
    {0x2102, 0x2102, false, "2 (65) < 303; 138 (33) < 270; 212 (260) < 0"},
    {0x2103, 0x2103, false, "6 (33) < 1055; 2420 (64) < 266; 2548 (64) < 527; 2676 (64) < 788"},
    {0x2104, 0x2104, false, "2 (260) < 1; 528 (33) < 268"},
    {0x2105, 0x2105, false,
     "6 (64) < 5; 134 (64) < 266; 262 (64) < 527; 390 (64) < 788; 518 (65) < 1090; 648 (65) < 1123; "
     "3130 (33) < 1056"},
    {0x2106, 0x2106, false, "4 (65) < 309; 2222 (261) < 48; 2486 (33) < 14"},
    {0x2107, 0x2107, false, "2 (260) < 1; 528 (33) < 268; 594 (261) < 302; 722 (65) < 335"},
    {0x2301, 0x2301, false, "0 (261) < 0; 522 (261) < 261; 1044 (196) < 522; 1436 (65) < 750"},
    {0x2303, 0x2303, false, "4 (260) < 4; 524 (260) < 264; 1044 (520) < 524; 2084 (65) < 1044"},
    {0x2304, 0x2304, false, "0 (261) < 0; 522 (261) < 261"},
    {0x6504, 0x6504, false, "0 (261) < 0; 522 (261) < 261"},
    {0x2307, 0x2307, false, "0 (261) < 0; 522 (261) < 261; 1046 (65) < 523"},
    {0x2309, 0x2309, false,
     "132 (260) < 3; 654 (64) < 264; 782 (64) < 394; 910 (64) < 524; 1038 (64) < 654; 1166 (64) < 784; "
     "1294 (65) < 914; 1424 (65) < 947"},
    {0x230A, 0x230A, false, "0 (261) < 0; 522 (261) < 261; 1044 (521) < 522; 2086 (65) < 1043"},
    {0x230B, 0x230B, false, "8 (260) < 8; 2346 (32) < 528; 2418 (260) < 566; 2938 (260) < 826; 3472 (65) < 1100"},
    {0x230C, 0x230C, false,
     "12 (260) < 10; 532 (260) < 270; 1052 (260) < 530; 1572 (260) < 790; 2092 (64) < 1050; "
     "2350 (260) < 1312; 2478 (260) < 1572; 2606 (65) < 1832"},
    {0x230D, 0x230D, false,
     "12 (260) < 10; 532 (260) < 270; 1052 (260) < 530; 1572 (260) < 790; 2092 (64) < 1050; 2360 (64) < 1320; "
     "2488 (64) < 1384; 2616 (260) < 1644; 3136 (260) < 1904; 3656 (64) < 2164; 3784 (64) < 2424; "
     "3912 (64) < 2684; 4040 (65) < 2944"},
    {0x230E, 0x230E, false, "8 (260) < 8; 528 (260) < 268; 2346 (65) < 1049; 2478 (64) < 529; 2606 (64) < 789"},
    {0x230F, 0x230F, false,
     "134 (261) < 6; 656 (64) < 267; 784 (64) < 397; 912 (64) < 527; 1040 (64) < 657; 1168 (64) < 787; "
     "1296 (64) < 917; 1424 (64) < 1047; 1552 (65) < 1177; 1682 (65) < 1210"},
    {0x2405, 0x2405, false, "2 (var) < 0"},
    {0x2501, 0x2501, false, "0 (261) < 0"},
    {0x2505, 0x2505, false, "0 (261) < 0"},
    {0x2508, 0x2508, false, "0 (261) < 0"},
    {0x3302, 0x3302, false, "0 (261) < 0"},
    {0x3304, 0x3304, false, "0 (261) < 0"},
    {0x6104, 0x6104, false, "0 (261) < 0"},
    {0x6501, 0x6503, false, "0 (261) < 0"},
    {0x3108, 0x3108, false,
     "4 (128) < 4; 264 (128) < 136; 520 (128) < 264; 776 (128) < 392; 1036 (128) < 524; 1292 (128) < 652; "
     "1554 (33) < 786; 1624 (261) < 824; 2146 (128) < 1085; 2402 (128) < 1213; 2658 (65) < 1341; "
     "2792 (var) < 1378"},
    {0x310A, 0x310A, false, "0 (260) < 0; 532 (65) < 272; 662 (65) < 305; 792 (65) < 338; 928 (33) < 378"},
    {0x310B, 0x310B, false, "0 (260) < 0; 526 (65) < 266; 662 (33) < 306"},
    {0x3202, 0x3202, false, "2 (31) < 2"},
    {0x4102, 0x4102, false, "2 (31) < 2"},
    {0x4107, 0x4108, false, "2 (31) < 2"},
    {0x3203, 0x3203, false, "2 (31) < 6; 64 (65) < 39; 194 (261) < 72"},
    {0x3204, 0x3204, false,
     "2 (31) < 2; 72 (64, cut) < 40; 328 (64, cut) < 301; 456 (64, cut) < 562; 712 (64, cut) < 823; "
     "840 (64, cut) < 1345; 2274 (var) < 1612"},
    {0x3204, 0x3204, true, "2 (31) < 2; 324 (521) < 35; 2274 (var) < 336"},
    {0x3205, 0x3205, false,
     "2 (31) < 2; 64 (65) < 1606; 850 (64, cut) < 40; 1106 (64, cut) < 301; 1234 (64, cut) < 562; "
     "1490 (64, cut) < 823; 1618 (64, cut) < 1345"},
    {0x3205, 0x3205, true, "2 (31) < 2; 64 (65) < 557; 194 (64, cut) < 296; 1102 (521) < 35"},
    {0x3206, 0x3206, false, "2 (31) < 2; 64 (64, cut) < 35; 192 (64, cut) < 557; 320 (260, cut) < 296; 846 (65) < 819"},
    {0x3207, 0x3207, true, "2 (31) < 2; 64 (65) < 818; 456 (521) < 35; 2662 (33) < 862"},
    {0x3209, 0x3209, false, "2 (31) < 4; 64 (65) < 37; 270 (var) < 70"},
    {0x320A, 0x320A, false, "2096 (260) < 6"},
    {0x320B, 0x320B, false, "2 (31) < 2; 72 (64, cut) < 44; 200 (64, cut) < 305; 328 (261) < 566; 850 (65) < 827"},
    {0x3301, 0x3301, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1566 (261) < 783; 2088 (65) < 1044"},
    {0x3303, 0x3303, false, "0 (261) < 0; 522 (64) < 261; 650 (64) < 325; 778 (64) < 389"},
    {0x4103, 0x4103, false, "2 (31) < 4; 64 (64) < 37; 192 (65) < 298"},
    {0x4105, 0x4105, false, "2 (31) < 4; 64 (64) < 37; 192 (65) < 298"},
    {0x4104, 0x4104, false, "2 (31) < 4; 64 (64) < 37; 200 (var) < 298"},
    {0x4106, 0x4106, false, "2 (31) < 265; 66 (261) < 4; 588 (64) < 298; 716 (64) < 559; 850 (33) < 826"},
    {0x4201, 0x4201, false, "2 (31) < 6; 68 (261) < 39; 590 (64) < 300; 718 (64) < 561; 848 (64) < 824"},
    {0x4202, 0x4202, false, "2 (31) < 4"},
    {0x4209, 0x4209, false, "2 (31) < 4"},
    {0x4203, 0x4203, false, "2 (31) < 8; 68 (130) < 41; 328 (130) < 563; 588 (65) < 694; 718 (65) < 824"},
    {0x4204, 0x4204, false, "2 (31) < 8; 68 (130) < 41; 328 (130) < 563; 588 (var) < 824"},
    {0x4205, 0x4205, false,
     "2 (31) < 8; 68 (130) < 41; 328 (64) < 302; 456 (64) < 563; 584 (64) < 824; 712 (261) < 1085; "
     "1234 (65) < 1346"},
    {0x4206, 0x4206, false, "2 (31) < 2; 64 (130) < 35; 324 (130) < 296"},
    {0x4207, 0x4208, false, "2 (31) < 2; 66 (130) < 36"},
    {0x420B, 0x420B, false, "2 (31) < 3; 66 (261) < 37"},
    {0x4301, 0x4302, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1570 (261) < 786"},
    {0x4303, 0x4303, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1566 (65) < 783"},
    {0x4305, 0x4305, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1566 (65) < 783"},
    {0x4304, 0x4304, false, "0 (261) < 0; 522 (65) < 261"},
    {0x4306, 0x4306, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1568 (261) < 785"},
    {0x4309, 0x4309, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1568 (261) < 785"},
    {0x4307, 0x4307, false, "0 (261) < 0; 522 (130) < 261; 782 (130) < 391; 1042 (261) < 521; 1566 (261) < 784"},
    {0x4308, 0x4308, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1568 (261) < 784"},
    {0x430A, 0x430A, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522"},
    {0x430B, 0x430B, false, "0 (261) < 0; 522 (261) < 261; 1044 (261) < 522; 1568 (130) < 785; 1828 (130) < 1046"},
    {0x430C, 0x430C, false, "0 (261) < 0; 522 (64) < 536; 652 (64) < 268; 780 (65) < 797; 910 (65) < 832"},
    {0x430D, 0x430D, false, "0 (261) < 0; 522 (64) < 788; 780 (var) < 261"},
    {0x430E, 0x430E, false,
     "0 (260) < 0; 520 (64) < 260; 648 (520) < 520; 1688 (520) < 1040; 2728 (65) < 1560; 2858 (65) < 1593"},
    {0x6105, 0x6105, false, "8 (261) < 8; 530 (64, cut) < 530; 666 (261) < 800; 1188 (var) < 269"},
    {0x6107, 0x6107, false, "4 (260) < 4; 70 (260) < 37"},
    {0x6109, 0x6109, false, "2 (260) < 2"},
    {0x6201, 0x6203, false, "0 (65) < 0; 138 (var) < 33"},
    {0x6204, 0x6204, false, "0 (65) < 0; 394 (var) < 33"},
    {0x6205, 0x6205, false, "0 (65) < 0; 130 (65) < 33"},
    {0x6301, 0x6301, false, "0 (65) < 33; 130 (65) < 66; 260 (64) < 99; 388 (261, cut) < 359; 914 (var) < 0"},
    {0x6405, 0x6405, false, "4 (65) < 4; 134 (261) < 37; 656 (261) < 298; 1178 (261) < 559"},
    {0x6406, 0x6406, false, "4 (261) < 5; 526 (261) < 266; 1048 (261) < 560; 2092 (65) < 527; 2222 (65) < 560"},
    {0x6407, 0x6407, false, "6 (261) < 5; 526 (261) < 265; 1048 (261) < 526; 1570 (65) < 787; 1700 (65) < 820"},
    {0x6507, 0x6507, false, "20 (260) < 4; 2360 (261) < 268; 2488 (261) < 529; 2616 (261) < 790"},
    {0x6508, 0x6508, false, "2 (65) < 266; 140 (260) < 5"},
    {0x6509, 0x6509, false, "2 (261) < 1"},
    {0x650A, 0x650A, false, "0 (260) < 0"},
    {0x650B, 0x650B, false, "524 (260) < 264"},
};

constexpr bool IsFullRule(uint16_t code) { return (code >= 0x1001 && code <= 0x1004) || code == 0x6105; }

uint16_t Number(std::string_view& text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  uint16_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return error == std::errc() ? value : 0;
}

// One row's fields; the table is ours, so its notation is taken as written.
std::vector<TextField> ParseFields(std::string_view text) {
  std::vector<TextField> fields;
  while (!text.empty()) {
    const size_t end = text.find(';');
    std::string_view one = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    TextField field;
    field.to = Number(one);
    const size_t open = one.find('(');
    const size_t close = one.find(')');
    std::string_view inside = one.substr(open + 1, close - open - 1);
    if (inside == "var") {
      field.kind = TextKind::kVariable;
    } else {
      field.units = Number(inside);
      if (inside.find("cut") != std::string_view::npos) field.kind = TextKind::kCut;
    }
    one = one.substr(one.find('<') + 1);
    field.from = Number(one);
    fields.push_back(field);
  }
  std::sort(fields.begin(), fields.end(), [](const TextField& a, const TextField& b) { return a.to < b.to; });
  return fields;
}

struct RuleTable {
  std::vector<std::pair<RuleEntry, ParamRule>> rules;
};

const RuleTable& Rules() {
  static const RuleTable table = [] {
    RuleTable made;
    for (const SizeRow& row : kSizes) {
      for (uint32_t code = row.first; code <= row.last; ++code) {
        for (bool old_layout : {false, true}) {
          // Only three codes have an old-layout variant; each has its own text row or, for
          // the normal layout of 0x3207, none.
          if (old_layout && code != 0x3204 && code != 0x3205 && code != 0x3207) continue;
          ParamRule rule;
          rule.size = row.size;
          rule.variable = row.variable;
          const TextRow* texts = nullptr;
          for (const TextRow& text : kTexts) {
            if (text.first <= code && code <= text.last && text.old_layout == old_layout) texts = &text;
          }
          if (texts != nullptr) rule.texts = ParseFields(texts->fields);
          if (IsFullRule(static_cast<uint16_t>(code))) {
            rule.kind = RuleKind::kFull;
          } else if (row.size == 0) {
            rule.kind = RuleKind::kComputed;
          } else {
            rule.kind = texts != nullptr ? RuleKind::kFields : RuleKind::kScalarsOnly;
          }
          const auto at = static_cast<uint16_t>(code);
          made.rules.push_back({RuleEntry{at, at, old_layout, nullptr}, std::move(rule)});
        }
      }
    }
    for (auto& [entry, rule] : made.rules) entry.rule = &rule;
    return made;
  }();
  return table;
}

// ---- Texts -------------------------------------------------------------------------------

// Never ends a text between the halves of a surrogate pair.
size_t CutUnits(const std::u16string& text, size_t room) {
  if (text.size() <= room) return text.size();
  if (room > 0 && text[room - 1] >= 0xD800 && text[room - 1] <= 0xDBFF) return room - 1;
  return room;
}

// A field's room: its units, but never past the next field or the payload's end.
size_t FieldRoom(const std::vector<TextField>& texts, size_t index, uint64_t limit) {
  const TextField& field = texts[index];
  uint64_t end = uint64_t{field.to} + 2 * uint64_t{field.units};
  for (size_t next = index + 1; next < texts.size(); ++next) {
    if (texts[next].to > field.to) {
      end = std::min<uint64_t>(end, texts[next].to);
      break;
    }
  }
  end = std::min(end, limit);
  return end > field.to ? static_cast<size_t>((end - field.to) / 2) : 0;
}

bool InsideAny(const std::vector<std::pair<uint64_t, uint64_t>>& ranges, uint64_t at) {
  for (const auto& [begin, end] : ranges) {
    if (at >= begin && at < end) return true;
  }
  return false;
}

// The rules given in full move each scalar on its own.
void FullRuleScalars(uint16_t code, plat::ByteView old, plat::MutableByteView out) {
  if (code <= 0x1003) {
    out.Put8(128, old.U8Or(261, 0));
  } else if (code == 0x1004) {
    out.Put16(0, old.U16Or(522, 0));
    out.Put8(2, old.U8Or(524, 0) & 0x0F);
    out.Put8(3, old.U8Or(525, 0));
    out.Put16(4, old.U16Or(526, 0));
  } else if (code == 0x6105) {
    out.Put8(0, old.U8Or(0, 0) & 0x03);
    out.Put8(1, old.U8Or(1, 0) != 0 ? 1 : 0);
    out.Put8(2, static_cast<uint8_t>(old.U8Or(2, 0) * 10));
    out.Put8(3, old.U8Or(3, 0));
    out.Put8(4, old.U8Or(4, 0));
    out.Put8(5, old.U8Or(5, 0) & 0x0F);
    out.Put8(7, old.U8Or(6, 0));
    if (old.size() > 792) {
      out.Put8(658, old.U8Or(792, 0));
      out.Put8(659, old.U8Or(793, 0));
      out.Put8(660, old.U8Or(794, 0));
      out.Put16(662, old.U16Or(796, 0));
    }
  }
}

}  // namespace

MappedCode MapCommandCode(uint16_t old_code, uint32_t data8) {
  if (old_code == 0x06C) return {static_cast<uint16_t>(data8 == 0 ? 0x2309 : 0x230F), false};
  if (old_code == 0x1A1) return {0x3204, true};
  if (old_code == 0x1A2) return {0x3205, true};
  if (old_code == 0x1A3) return {0x3207, true};
  for (const CodeRun& run : kCodeRuns) {
    if (old_code >= run.first && old_code <= run.last)
      return {static_cast<uint16_t>(run.to + (old_code - run.first)), false};
  }
  return {old_code, false};
}

const ParamRule* FindParamRule(uint16_t code, bool old_layout) {
  for (const auto& [entry, rule] : Rules().rules) {
    if (entry.first <= code && code <= entry.last && entry.old_layout == old_layout) return &rule;
  }
  return nullptr;
}

std::vector<RuleEntry> AllParamRules() {
  std::vector<RuleEntry> all;
  for (const auto& [entry, rule] : Rules().rules) all.push_back(entry);
  return all;
}

std::string AnsiText(plat::ByteView bytes, uint64_t offset, uint64_t max_bytes) {
  const plat::ByteView rest = bytes.From(offset).First(max_bytes);
  if (rest.empty()) return {};
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(rest.data(), 0, rest.size()));
  const size_t length = end != nullptr ? static_cast<size_t>(end - rest.data()) : rest.size();
  return std::string(reinterpret_cast<const char*>(rest.data()), length);
}

bool PutWidened(plat::MutableByteView out, uint64_t offset, size_t units, std::string_view text, TextCounts* counts) {
  if (units == 0) return false;
  const std::optional<plat::MutableByteView> field = out.Sub(offset, 2 * uint64_t{units});
  if (!field) return false;
  std::memset(field->data(), 0, field->size());
  const std::u16string wide = plat::AnsiToWide(text);
  const size_t kept = CutUnits(wide, units - 1);
  field->PutUtf16z(0, std::u16string_view(wide).substr(0, kept));
  const bool cut = kept < wide.size();
  if (counts != nullptr && !text.empty()) {
    ++counts->widened;
    if (cut) ++counts->cut;
  }
  return cut;
}

bool ConvertPayload(const ParamRule& rule, uint16_t code, plat::ByteView old, std::vector<uint8_t>& payload,
                    TextCounts* counts) {
  const std::vector<TextField>& texts = rule.texts;
  // The closing text decides the size; it may take what the largest payload leaves.
  std::u16string closing;
  const TextField* variable = nullptr;
  for (const TextField& field : texts) {
    if (field.kind == TextKind::kVariable) variable = &field;
  }
  uint64_t size = rule.size;
  if (rule.kind == RuleKind::kComputed) {
    size = old.size();
    for (size_t i = 0; i < texts.size(); ++i)
      size = std::max<uint64_t>(size, texts[i].to + 2 * uint64_t{texts[i].units});
  }
  bool closing_cut = false;
  if (variable != nullptr) {
    closing = plat::AnsiToWide(AnsiText(old, variable->from));
    const size_t room = size < kMaxParamPayload ? static_cast<size_t>((kMaxParamPayload - size) / 2) : 0;
    const size_t kept = CutUnits(closing, room);
    closing_cut = kept < closing.size();
    closing.resize(kept);
    size += 2 * uint64_t{closing.size()};
  }
  if (size > kMaxParamPayload || !AllocateZeroed(payload, size)) return false;
  const plat::MutableByteView out(payload);

  // Scalars: where the new layout has no text of its own, the old byte at the same offset
  // stays, unless it belongs to one of the old texts. Past the closing text's start the
  // layout follows the text, so nothing old is placed there.
  std::vector<std::string> old_text;
  for (const TextField& field : texts) old_text.push_back(AnsiText(old, field.from));
  if (rule.kind != RuleKind::kFull) {
    std::vector<std::pair<uint64_t, uint64_t>> old_texts, new_texts;
    for (size_t i = 0; i < texts.size(); ++i) {
      const TextField& field = texts[i];
      const uint64_t length = old_text[i].size() + 1;
      old_texts.emplace_back(field.from, uint64_t{field.from} + length);
      if (field.kind != TextKind::kVariable) {
        new_texts.emplace_back(field.to, field.to + 2 * uint64_t{FieldRoom(texts, i, size)});
      }
    }
    // A closing text whose place is not known still ends the payload with its terminator.
    const uint64_t layout_end = variable != nullptr ? variable->to : (rule.variable ? size - 2 : size);
    const uint64_t scalar_end = std::min<uint64_t>(layout_end, old.size());
    for (uint64_t at = 0; at < scalar_end; ++at) {
      if (!InsideAny(new_texts, at) && !InsideAny(old_texts, at)) out.Put8(at, old.U8Or(at, 0));
    }
  } else {
    FullRuleScalars(code, old, out);
  }

  for (size_t i = 0; i < texts.size(); ++i) {
    const TextField& field = texts[i];
    if (field.kind == TextKind::kVariable) continue;
    // 0x6105 carries its second file name only from the longer old layout.
    if (code == 0x6105 && field.from == 800 && old.size() <= 792) continue;
    PutWidened(out, field.to, FieldRoom(texts, i, variable != nullptr ? variable->to : size), old_text[i], counts);
  }
  if (variable != nullptr) {
    out.PutUtf16z(variable->to, closing);
    if (counts != nullptr && !closing.empty()) {
      ++counts->widened;
      if (closing_cut) ++counts->cut;
    }
  }
  return true;
}

}  // namespace macro::legacy
