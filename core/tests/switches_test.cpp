// Registry switches and driver switches, read through the device node from
// the fake kernel endpoint's named parameters.
#include <string.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/driver_switches.h"
#include "core/registry_switches.h"
#include "core/tests/pdev_fixture.h"

namespace {

using coretest::Head;

// ---- The 78 registry switches ----------------------------------------------------------

// Revision classes: none of the masks, the second chip (0x3C0), the first
// chip of the later generation (0x1C00), the first chip at revision 3 (0x10).
enum RevClass { kPlain, kSecond, kNextGen, kRev3, kClassCount };
const uint32_t kClassBits[kClassCount] = {0x2000, 0x40, 0x400, 0x10};

void PrintTo(RevClass rc, std::ostream* out) {
  static const char* const kNames[kClassCount] = {"Plain", "SecondChip", "LaterGeneration",
                                                  "FirstChipRev3"};
  if (rc >= 0 && rc < kClassCount) {
    *out << kNames[rc];
  } else {
    *out << "Class" << static_cast<int>(rc);
  }
}

struct U8Row {
  int order;  // 1-based build order
  RegistrySwitchU8* RegistrySwitchManager::*member;
  const char* parameter;
  uint8_t defaults[kClassCount];
};
struct U32Row {
  int order;
  RegistrySwitchU32* RegistrySwitchManager::*member;
  const char* parameter;
  uint32_t defaults[kClassCount];
};

#define U8(n, name, param, d) {n, &RegistrySwitchManager::name, param, {d, d, d, d}}
#define U32(n, name, param, d) {n, &RegistrySwitchManager::name, param, {d, d, d, d}}

const U8Row kU8Rows[] = {
    U8(4, ForceCompressedMask, "reg3DForceCompressedMask", 1),
    U8(5, ForcePLNWMASK4FAA, "reg3DForcePLNWMASK4FAA", 1),
    U8(6, ResolveOnStencilOpChange, "reg3DResolveOnStencilOpChange", 1),
    U8(7, AdjustZ, "reg3DAdjustZ", 0),
    U8(8, ResolveAlphaBlendedFrags, "reg3DResolveAlphaBlendedFrags", 0),
    U8(9, ForceAGPTextures, "reg3DForceAGPTextures", 0),
    U8(10, SwapTexturesVidMemOptions, "reg3DSwapTexturesVidMemOptions", 0),
    U8(11, HwTransformLight, "reg3DHwTransformLight", 1),
    U8(12, HwPureDevice, "reg3DHwPureDevice", 1),
    {13, &RegistrySwitchManager::EnableZinit, "reg3DEnableZinit", {0, 1, 0, 0}},
    U8(14, EnableZCompBrisol, "reg3DEnableZCompBrisol", 0),
    U8(15, ForceDepthToS8Z24Brisol, "reg3DForceDepthToS8Z24Brisol", 0),
    U8(16, DivByZeroRefRastBrisol, "reg3DDivByZeroRefRastBrisol", 1),
    U8(17, Force3DTextureToABBrisol, "reg3DForce3DTextureToABBrisol", 0),
    U8(18, Force3DTextureToCDBrisol, "reg3DForce3DTextureToCDBrisol", 0),
    U8(19, Force3DTextureTextiledToABBrisol, "reg3DForce3DTextureTextiledToABBrisol", 0),
    U8(20, Force3DTextureTextiledToCDBrisol, "reg3DForce3DTextureTextiledToCDBrisol", 0),
    U8(21, Use2DClearForceZUncompBrisol, "reg3DUse2DClearForceZUncompBrisol", 0),
    U8(22, Use3DClearBrisol, "reg3DUse3DClearBrisol", 1),
    U8(23, UseZCompInMultContextBrisol, "reg3DUseZCompInMultContextBrisol", 1),
    U8(25, UseBrisolMemoryStrategies, "reg3DUseBrisolMemoryStrategies", 0),
    U8(26, ZUncompAnd2DClearSceneInProgBrisol, "reg3DZUncompAnd2DClearSceneInProgBrisol", 0),
    U8(28, HqCubemaps, "reg3DHqCubemaps", 0),
    U8(29, UseTextiled, "reg3DUseTextiled", 1),
    U8(33, VECacheMode, "reg3DVECacheMode", 1),
    U8(36, ForcePCIAllocation, "reg3DForcePCIAllocation", 0),
    U8(38, VertexShader, "reg3DVertexShader", 1),
    U8(40, LoxarEnable, "reg3DLoxarEnable", 1),
    U8(41, PerformCRegCheck, "reg3DPerformCRegCheck", 0),
    U8(42, ClipReject, "reg3DClipReject", 0),
    U8(45, TEEnable, "reg3DTEEnable", 1),
    U8(49, TEFastTrilinear, "reg3DTEFastTrilinear", 0),
    U8(53, Spanthree, "reg3DSpanthree", 0),
    U8(54, PolygonOffset, "reg3DPolygonOffset", 1),
    U8(55, WideLines, "reg3DWideLines", 1),
    U8(59, FastBitmap, "reg3DFastBitmap", 1),
    U8(60, FastRasterPos, "reg3DFastRasterPos", 1),
    U8(66, BlitSoft, "reg3DBlitSoft", 0),
    U8(68, VSyncInt, "regSysVSyncInt", 0),
    U8(69, FulmiraFullScreen, "reg3DFulmiraFullScreen", 0),
    U8(70, FulmiraRender, "reg3DFulmiraRender", 0),
    U8(71, DxVaSupport, "reg3DDxVaSupport", 0),
    U8(72, DxVaSupportIndicator, "swDxVaSupportIndicator", 0),
    U8(74, OverlayEnable, "swOverlayEnable", 1),
    U8(75, EnableCostlyOverlaySupport, "swEnableCostlyOverlaySupport", 0),
    U8(76, WaitOnFieldFlip, "swWaitOnFieldFlip", 1),
    U8(77, NonLocalToVideoBlit, "swNonLocalToVideoBlit", 0),
    U8(78, VPEEnable, "swVPEEnable", 0),
};

const U32Row kU32Rows[] = {
    U32(1, AAMode, "reg3DAAMode", 82),
    U32(2, ThresholdAA, "reg3DThresholdAA", 0x7FFFFF),
    U32(3, FragSize, "reg3DFragSize", 0x40800000),
    {24, &RegistrySwitchManager::ColRndMode, "reg3DColRndMode", {1, 1, 0, 1}},
    U32(27, PhysicalMemory, "regSysPhysicalMemory", 256),
    U32(30, VertexBuffers, "reg3DVertexBuffers", 1),
    {31, &RegistrySwitchManager::MemLevels, "reg3DMemLevels",
     {0x3FFF8842, 0x3FFF8842, 0x3FFF8842, 0x3FF00842}},
    U32(32, LightingType, "reg3DLightingType", 1),
    {34, &RegistrySwitchManager::CullNoneMode, "reg3DCullNoneMode", {0, 0, 1, 0}},
    U32(35, TnLZFactor, "reg3DTnLZFactor", 1),
    U32(37, GuardBandClipping, "reg3DGuardBandClipping", 2),
    U32(39, VertexShaderOptions, "reg3DVertexShaderOptions", 17),
    U32(43, VolumetricShadow, "reg3DVolumetricShadow", 1),
    U32(44, ClippingType, "reg3DClippingType", 0),
    U32(46, TEPipeSelect, "reg3DTEPipeSelect", 4),
    U32(47, TEDefaultColor, "reg3DTEDefaultColor", 0xFFFF80C0),
    U32(48, TEMultiplePipes, "reg3DTEMultiplePipes", 7),
    U32(50, TEFilteringOptions, "reg3DTEFilteringOptions", 0xFFFFFF),
    U32(51, TELodBias, "reg3DTELodBias", 0),
    {52, &RegistrySwitchManager::TEDLFCounters, "reg3DTEDLFCounters",
     {0x4087, 0x4087, 0x1E4087, 0x4087}},
    U32(56, LineStipple, "reg3DLineStipple", 1),
    U32(57, TextureCompress, "reg3DTextureCompress", 0),
    U32(58, Debug, "reg3DDebug", 0),
    U32(61, MmFlags, "regSysMmFlags", 2),
    U32(62, MmDebugFlags, "regSysMmDebugFlags", 0),
    U32(63, BmDebugFlags, "regSysBmDebugFlags", 0),
    U32(64, BmDebugInfo, "regSysBmDebugInfo", 0),
    U32(65, BmDbgOutLvl, "regSysBmDbgOutLvl", 0),
    U32(67, DebugPatches, "regSysDebugPatches", 0),
    U32(73, FlipOnVBlank, "reg3DFlipOnVBlank", 3),
};
#undef U8
#undef U32

static_assert(sizeof(kU8Rows) / sizeof(kU8Rows[0]) == 48);
static_assert(sizeof(kU32Rows) / sizeof(kU32Rows[0]) == 30);

class RegistryTable : public coretest::KernelNodeTest,
                      public testing::WithParamInterface<RevClass> {
 protected:
  // A device object's view with the revision bits of a class; it reaches the
  // fake kernel through the device.
  PDEV* Driver(uint32_t bits) {
    uint8_t ok = 0;
    VideoMode mode = {};
    inert_ = new PDEV(nullptr, &mode, 0, &ok);
    inert_->revisionBits = bits;
    inert_->device = device_.get();
    return inert_;
  }
  void TearDown() override {
    delete inert_;
    KernelNodeTest::TearDown();
  }
  PDEV* inert_ = nullptr;
};

TEST_P(RegistryTable, NamesWidthsDefaultsAndOrder) {
  const RevClass rc = GetParam();
  PDEV* pdev = Driver(kClassBits[rc]);
  uint8_t ok = 0;
  RegistrySwitchManager* manager = new RegistrySwitchManager(&ok, pdev);
  ASSERT_NE(manager, nullptr);
  ASSERT_EQ(ok, 1);
  ASSERT_EQ(manager->count, 78u);

  for (const U8Row& row : kU8Rows) {
    RegistrySwitchU8* sw = manager->*row.member;
    ASSERT_NE(sw, nullptr) << row.parameter;
    EXPECT_EQ(manager->list[row.order - 1], sw) << row.parameter;
    EXPECT_EQ(sw->GetDefaultValue(), row.defaults[rc]) << row.parameter;
    EXPECT_EQ(sw->GetValue(pdev), row.defaults[rc]) << row.parameter;  // no parameter set
    kernel_.SetParameter(row.parameter, 0x12345678);
    EXPECT_EQ(sw->GetValue(pdev), 0x78) << row.parameter;  // exactly one byte
  }
  for (const U32Row& row : kU32Rows) {
    RegistrySwitchU32* sw = manager->*row.member;
    ASSERT_NE(sw, nullptr) << row.parameter;
    EXPECT_EQ(manager->list[row.order - 1], sw) << row.parameter;
    EXPECT_EQ(sw->GetDefaultValue(), row.defaults[rc]) << row.parameter;
    EXPECT_EQ(sw->GetValue(pdev), row.defaults[rc]) << row.parameter;
    kernel_.SetParameter(row.parameter, 0x12345678);
    EXPECT_EQ(sw->GetValue(pdev), 0x12345678u) << row.parameter;
  }
  // Every read was one request, each under its own name.
  EXPECT_EQ(kernel_.CallsTo(0x03).size(), 2u * 78u);
  delete manager;
}

INSTANTIATE_TEST_SUITE_P(Revisions, RegistryTable,
                         testing::Values(kPlain, kSecond, kNextGen, kRev3),
                         testing::PrintToStringParamName());

using RegistrySwitchTest = RegistryTable;

TEST_F(RegistrySwitchTest, SetValueWritesTheNamedParameter) {
  PDEV* pdev = Driver(0);
  uint8_t ok = 0;
  RegistrySwitchManager manager(&ok, pdev);
  ASSERT_EQ(ok, 1);
  kernel_.SetParameter("reg3DTEPipeSelect", 0);
  EXPECT_TRUE(manager.TEPipeSelect->SetValue(pdev, 0xABCDEF));
  EXPECT_EQ(kernel_.Parameter("reg3DTEPipeSelect"), 0xABCDEFu);
  // An unknown parameter refuses the write.
  EXPECT_FALSE(manager.AAMode->SetValue(pdev, 1));
}

TEST_F(RegistrySwitchTest, OverlongSectionAndNameGiveTheDefaultWithoutARequest) {
  PDEV* pdev = Driver(0);
  std::string longName(508, 'k');  // "3D" + "." + 508 = 511: still asked
  uint8_t ok = 0;
  RegistrySwitchU32 fits(&ok, "3D", longName.c_str(), RegistrySwitchU32::kScopeDefault, 5);
  ASSERT_EQ(ok, 1);
  fits.GetValue(pdev);
  EXPECT_EQ(kernel_.CallsTo(0x03).size(), 1u);

  std::string tooLong(509, 'k');
  RegistrySwitchU32 over(&ok, "3D", tooLong.c_str(), RegistrySwitchU32::kScopeDefault, 5);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(over.GetValue(pdev), 5u);
  EXPECT_FALSE(over.SetValue(pdev, 1));
  EXPECT_EQ(kernel_.CallsTo(0x03).size(), 1u);
}

TEST_F(RegistrySwitchTest, DeleteAllSwitchesTwiceIsHarmless) {
  PDEV* pdev = Driver(0);
  uint8_t ok = 0;
  RegistrySwitchManager manager(&ok, pdev);
  uint64_t live = box_.LiveAllocations();
  manager.DeleteAllSwitches();
  EXPECT_EQ(manager.count, 0u);
  EXPECT_EQ(manager.LoxarEnable, nullptr);
  EXPECT_EQ(live - box_.LiveAllocations(), 3u * 78u);
  manager.DeleteAllSwitches();
  EXPECT_EQ(manager.count, 0u);
}

// A switch costs three allocations: the object, the section and the name.
// Failing the object, the section or the name of the 40th switch
// (LoxarEnable) leaves none of the switches and clears every named pointer.
TEST_F(RegistrySwitchTest, AllocationFailureAtTheFortiethSwitchLeavesNothing) {
  PDEV* pdev = Driver(0);
  for (uint64_t part = 0; part < 3; ++part) {
    uint64_t live = box_.LiveAllocations();
    uint64_t before = box_.AllocationCount();
    box_.FailAllocation(39 * 3 + 1 + part);
    uint8_t ok = 0xEE;
    RegistrySwitchManager manager(&ok, pdev);
    EXPECT_EQ(ok, 0) << part;
    EXPECT_EQ(box_.FailedAllocations(), part + 1);
    EXPECT_EQ(box_.AllocationCount() - before, 39 * 3 + 1 + part);
    EXPECT_EQ(box_.LiveAllocations(), live) << part;
    EXPECT_EQ(manager.count, 0u);
    EXPECT_EQ(manager.AAMode, nullptr);
    EXPECT_EQ(manager.VertexShaderOptions, nullptr);
    EXPECT_EQ(manager.LoxarEnable, nullptr);
  }
}

// ---- Driver switches on device objects ------------------------------------------------------

using DriverSwitchTest = coretest::KernelNodeTest;

// How many times each named parameter was asked for since the last clear.
std::map<std::string, int> ParameterReads(const xstub::FakeKernel& kernel) {
  std::map<std::string, int> reads;
  for (const auto& call : kernel.CallsTo(0x03)) {
    xstub::ParameterRecord record;
    memcpy(&record, call.record.data(), sizeof(record));
    reads[record.name]++;
  }
  return reads;
}

TEST_F(DriverSwitchTest, FirstObjectReadsEveryWrappedParameterOnceTheSecondOnlyGroupTwo) {
  Head& first = Construct(0);
  ASSERT_EQ(first.ok, 1);
  auto reads = ParameterReads(kernel_);
  // 76 wrapped switches, minus the overlay switch whose rule reads nothing.
  EXPECT_EQ(reads.size(), 75u);
  for (const auto& [name, count] : reads) EXPECT_EQ(count, 1) << name;
  EXPECT_EQ(reads.count("swOverlayEnable"), 0u);
  EXPECT_EQ(reads.count("reg3DDxVaSupport"), 0u);
  EXPECT_EQ(reads.count("swDxVaSupportIndicator"), 0u);

  kernel_.ClearCalls();
  Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  reads = ParameterReads(kernel_);
  EXPECT_EQ(reads.count("regSysMmDebugFlags"), 1u);
  EXPECT_EQ(reads.count("reg3DLoxarEnable"), 1u);
  EXPECT_EQ(reads.count("regSysBmDbgOutLvl"), 1u);
  for (const char* groupOne :
       {"regSysMmFlags", "regSysPhysicalMemory", "regSysBmDebugFlags", "regSysDebugPatches",
        "reg3DForce3DTextureToABBrisol", "reg3DPerformCRegCheck", "reg3DClippingType",
        "regSysBmDebugInfo", "swVPEEnable"}) {
    EXPECT_EQ(reads.count(groupOne), 0u) << groupOne;
  }
  // The 64 switches of group 2, minus the overlay rule.
  EXPECT_EQ(reads.size(), 63u);
  EXPECT_EQ(first.pdev->common->driverSwitches, second.pdev->common->driverSwitches);
  EXPECT_NE(second.pdev->driverSwitchesLocal, nullptr);
}

struct CascadeCase {
  const char* name;
  std::map<std::string, uint32_t> parameters;
  uint8_t loxar, transformLight, pureDevice;
};

void PrintTo(const CascadeCase& c, std::ostream* out) { *out << c.name; }

const CascadeCase kCascadeCases[] = {
    {"Defaults", {}, 1, 1, 1},
    {"DebugFlagsBit2SwitchesTheChainOff",
     {{"regSysBmDebugFlags", 4}, {"reg3DLoxarEnable", 1}, {"reg3DHwTransformLight", 1},
      {"reg3DHwPureDevice", 1}},
     0, 0, 0},
    {"OtherDebugFlagsLeaveItAlone", {{"regSysBmDebugFlags", 8}}, 1, 1, 1},
    {"TransformLightOffSwitchesPureDeviceOff",
     {{"reg3DHwTransformLight", 0}, {"reg3DHwPureDevice", 1}}, 1, 0, 0},
    {"LoxarOffSwitchesBothOff", {{"reg3DLoxarEnable", 0}}, 0, 0, 0},
    {"PureDeviceAloneOff", {{"reg3DHwPureDevice", 0}}, 1, 1, 0},
};

class Cascade : public DriverSwitchTest, public testing::WithParamInterface<CascadeCase> {};

TEST_P(Cascade, FollowsTheRules) {
  for (const auto& [name, value] : GetParam().parameters) kernel_.SetParameter(name, value);
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  DriverSwitchesCommon* set = head.pdev->common->driverSwitches;
  EXPECT_EQ(set->LoxarEnable->GetValue(), GetParam().loxar);
  EXPECT_EQ(set->HwTransformLight->GetValue(), GetParam().transformLight);
  EXPECT_EQ(set->HwPureDevice->GetValue(), GetParam().pureDevice);
}

INSTANTIATE_TEST_SUITE_P(Rules, Cascade, testing::ValuesIn(kCascadeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverSwitchTest, FixedAndForcedSwitches) {
  kernel_.SetParameter("swOverlayEnable", 0);
  kernel_.SetParameter("regSysBmDbgOutLvl", 3);
  kernel_.SetParameter("reg3DFragSize", 0x40800000);
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  DriverSwitchesCommon* set = head.pdev->common->driverSwitches;
  EXPECT_EQ(set->OverlayEnable->GetValue(), 1);
  EXPECT_EQ(set->OverlayEnable->validated, 0);
  EXPECT_EQ(set->FakeHostAperture->GetValue(), 0);
  EXPECT_EQ(set->FixedZero66->GetValue(), 0);
  EXPECT_EQ(set->BmDbgOutLvl->GetValue(), 3u);
  EXPECT_EQ(set->FragSize->GetValue(), 0x40800000u);
  EXPECT_EQ(set->manager.count, 78u);
  for (uint32_t i = 0; i < set->manager.count; ++i) {
    if (set->manager.list[i] != set->OverlayEnable) {
      EXPECT_EQ(set->manager.list[i]->validated, 1) << i;
    }
  }
}

TEST_F(DriverSwitchTest, InvalidateOnlyTouchesTheFlagOfMatchingGroups) {
  kernel_.SetParameter("regSysMmDebugFlags", 6);
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  DriverSwitchesCommon* set = head.pdev->common->driverSwitches;
  set->manager.Invalidate(kDsGroupEveryHead);
  EXPECT_EQ(set->MmDebugFlags->validated, 0);
  EXPECT_EQ(set->MmDebugFlags->GetValue(), 6u);
  EXPECT_EQ(set->MmFlags->validated, 1);
}

TEST_F(DriverSwitchTest, GroupOneKeepsItsFirstValidationForLaterHeads) {
  kernel_.SetParameter("regSysBmDebugFlags", 4);
  Head& first = Construct(0);
  ASSERT_EQ(first.ok, 1);
  // The parameter changes; group 1 keeps the first validation, the chain
  // of group 2 is validated again against the kept debug flags.
  kernel_.SetParameter("regSysBmDebugFlags", 0);
  Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  DriverSwitchesCommon* set = first.pdev->common->driverSwitches;
  EXPECT_EQ(set->BmDebugFlags->GetValue(), 4u);
  EXPECT_EQ(set->LoxarEnable->GetValue(), 0);
}

// The 50th common switch fails to allocate: init fails, and every switch of
// both sets is gone.
TEST_F(DriverSwitchTest, AllocationFailureInTheCommonSetLeavesNothing) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  PDEV* pdev = head.pdev;
  CleanupDriverSwitchManager(pdev);
  EXPECT_EQ(pdev->common->driverSwitches, nullptr);
  uint64_t live = box_.LiveAllocations();

  struct Case {
    const char* name;
    uint64_t nth;
  } const cases[] = {
      {"registry manager", 1},
      {"40th registry switch", 1 + 39 * 3 + 1},
      {"common set", 1 + 78 * 3 + 1},
      {"50th driver switch", 1 + 78 * 3 + 1 + 50},
  };
  for (const Case& c : cases) {
    box_.FailAllocation(c.nth);
    EXPECT_FALSE(InitDriverSwitchManager(pdev)) << c.name;
    EXPECT_EQ(pdev->common->registrySwitches, nullptr) << c.name;
    EXPECT_EQ(pdev->common->driverSwitches, nullptr) << c.name;
    EXPECT_EQ(pdev->driverSwitchesLocal, nullptr) << c.name;
    EXPECT_EQ(box_.LiveAllocations(), live) << c.name;
    box_.FailAllocation(0);
  }
  // And it builds again afterwards.
  EXPECT_TRUE(InitDriverSwitchManager(pdev));
  EXPECT_NE(pdev->common->driverSwitches, nullptr);
}

TEST_F(DriverSwitchTest, LocalSetAllocationFailureIsNotAnError) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  CleanupDriverSwitchManager(second.pdev);
  box_.FailAllocation(1);  // the second head allocates only its local set
  EXPECT_TRUE(InitDriverSwitchManager(second.pdev));
  EXPECT_EQ(second.pdev->driverSwitchesLocal, nullptr);
  EXPECT_NE(second.pdev->common->driverSwitches, nullptr);
}

TEST_F(DriverSwitchTest, FailedRowStopsConstructionAndTheDestructorSkipsIt) {
  uint64_t live = box_.LiveAllocations();
  // The object, the common data, the common locked block (the shared blocks
  // are the module's), the physical memory mapper (row 1), the bus-mastering
  // flags (row 7), then the registry manager of row 8.
  box_.FailAllocation(6);
  Head& head = Construct(0);
  EXPECT_EQ(head.ok, 0);
  EXPECT_EQ(head.pdev->initialisedCount, 8);
  EXPECT_EQ(head.pdev->common->registrySwitches, nullptr);
  Destroy(head);
  EXPECT_EQ(box_.LiveAllocations(), live);
  EXPECT_EQ(kernel_.BufferCount(), 0u);
}

}  // namespace
