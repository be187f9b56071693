// Resource tables: surfaces and sets under (type, handle), the displayed
// surface, companions, the attached render contexts (records on the
// table's list, whose calls the stand-ins log), the per-unit lists and
// component entry 17.
#include <gtest/gtest.h>

#include <set>

#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"
#include "platform/kglue/kglue.h"

namespace {

using stest::SurfaceBoard;

constexpr uint32_t kKey = 1234;

class Tables : public SurfaceBoard {
 protected:
  void SetUp() override {
    SurfaceBoard::SetUp();
    table = CreateResourceTable(pdev, kKey);
    ASSERT_NE(table, nullptr);
    for (RenderContext3d*& context : contexts) {
      context = OsNew<RenderContext3d>();
      ASSERT_NE(context, nullptr);
    }
    baseline = Holding();
  }
  void TearDown() override {
    DestroyResourceTable(pdev, kKey);
    for (RenderContext3d* context : contexts) OsDelete(context);
    SurfaceBoard::TearDown();
  }
  // A render context that was never initialised: what the table asks of
  // it shows in its fields.
  RenderContext3d* Context(int index) { return contexts[index]; }
  // A context whose auxiliary surfaces live in the table.
  RenderContext3d* ContextWithAux(int index) {
    contexts[index]->aux.owner = contexts[index];
    contexts[index]->resources = table;
    return contexts[index];
  }
  Surface3d* Displayed() { return BlitEngine3dDisplayedSurface(pdev); }

  ResourceTable* table = nullptr;
  Held baseline{};
  RenderContext3d* contexts[4] = {};
};

TEST_F(Tables, AFixedHandleIsTakenAsGivenAndTheNextCreationTakesTheFirstFreeOne) {
  SurfaceCreateRequest request = Request(11, 32, 32);
  request.fixedHandle = 5;
  Surface3d* five = table->CreateSurface(1, &request);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five->resourceHandle, 5u);
  EXPECT_EQ(table->Get(1, 5), five);
  EXPECT_EQ(five->resourceType, 1u);
  EXPECT_EQ(five->resourceTable, table);
  EXPECT_EQ(five->processId, OsGetCurrentProcessId());
  request.fixedHandle = 0;
  Surface3d* one = table->CreateSurface(1, &request);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->resourceHandle, 1u);
  // Each type has its own handles.
  Surface3d* other = table->CreateSurface(0, &request);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->resourceHandle, 1u);
  EXPECT_EQ(table->Get(0, 1), other);
  EXPECT_EQ(table->Get(2, 1), nullptr);
}

TEST_F(Tables, RefusedCreationsLeaveTheTablesAndTheGlueAsTheyWere) {
  SurfaceCreateRequest taken = Request(11, 32, 32);
  taken.fixedHandle = 3;
  ASSERT_NE(table->CreateSurface(1, &taken), nullptr);
  const Held before = Holding();
  const uint64_t allocations = glue.AllocationCount();
  struct Refused {
    const char* name;
    uint32_t type;
    SurfaceCreateRequest request;
  };
  SurfaceCreateRequest far = Request(11, 32, 32);
  far.fixedHandle = kMaxResourceHandle + 1;
  SurfaceCreateRequest huge = Request(11, 40000, 1);
  SurfaceCreateRequest emptySet = SetRequest(11, 32, 32, 0, kSetMipChain);
  const Refused cases[] = {
      {"taken fixed handle", 1, taken},
      {"handle past the largest", 1, far},
      {"type 3", 3, Request(11, 32, 32)},
      {"width above the descriptors", 1, huge},
      {"set without levels", 1, emptySet},
  };
  for (Refused c : cases) {
    EXPECT_EQ(table->CreateSurface(c.type, &c.request), nullptr) << c.name;
    EXPECT_EQ(glue.AllocationCount(), allocations) << c.name;
  }
  EXPECT_EQ(Holding(), before);
  EXPECT_EQ(table->TableOf(1)->Count(), 1u);
  // The largest handle itself is fine.
  SurfaceCreateRequest last = Request(11, 32, 32);
  last.fixedHandle = kMaxResourceHandle;
  Surface3d* s = table->CreateSurface(2, &last);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->resourceHandle, kMaxResourceHandle);
}

TEST_F(Tables, EachRefusedAllocationOfACreationLeavesNothing) {
  for (uint8_t kind : {uint8_t{0}, kSetCube}) {
    bool made = false;
    for (uint64_t nth = 1; nth < 300 && !made; ++nth) {
      SurfaceCreateRequest request =
          kind == 0 ? Request(11, 64, 1, kPlaceLocal, 1) : SetRequest(11, 16, 16, 3, kind);
      request.fixedHandle = kind == 0 ? 100 : 0;  // the table grows
      glue.FailAllocation(nth);
      Surface3d* s = table->CreateSurface(1, &request);
      glue.FailAllocation(0);
      made = s != nullptr;
      if (!made) {
        EXPECT_EQ(Holding(), baseline) << int{kind} << " failing allocation " << nth;
        EXPECT_EQ(table->TableOf(1)->Count(), 0u);
      }
    }
    EXPECT_TRUE(made);
    table->Clear();
    DestroyResourceTable(pdev, kKey);
    table = CreateResourceTable(pdev, kKey);
    ASSERT_NE(table, nullptr);
  }
}

TEST_F(Tables, ACubeOfThreeLevelsTakesEighteenHandlesAndAnswersFaceZerosTopLevel) {
  SurfaceCreateRequest request = SetRequest(11, 64, 64, 3, kSetCube);
  Surface3d* top = table->CreateSurface(2, &request);
  ASSERT_NE(top, nullptr);
  ASSERT_NE(top->set, nullptr);
  EXPECT_EQ(top, top->set->Level(0, 6));
  EXPECT_EQ(top->resourceHandle, 1u);
  EXPECT_EQ(table->TableOf(2)->Count(), 18u);
  std::set<uint32_t> handles;
  for (uint32_t handle = 1; handle <= 18; ++handle) {
    Surface3d* s = table->Get(2, handle);
    ASSERT_NE(s, nullptr) << handle;
    EXPECT_EQ(s->resourceHandle, handle);
    EXPECT_EQ(s->set, top->set);
    EXPECT_EQ(s->resourceTable, table);
    handles.insert(handle);
  }
  // Face by face, largest level first.
  EXPECT_EQ(table->Get(2, 2), top->set->Level(0, 5));
  EXPECT_EQ(table->Get(2, 4), top->set->Level(1, 6));
  EXPECT_EQ(top->set->owner->resourceTable, table);
}

TEST_F(Tables, TheLastLevelDestroyedTakesItsSetAndTheMasterOnce) {
  SurfaceCreateRequest request = SetRequest(11, 64, 64, 4, kSetMipChain);
  Surface3d* top = table->CreateSurface(1, &request);
  ASSERT_NE(top, nullptr);
  // Out of order: the set goes with the last one (the sanitizers see a
  // second deletion).
  for (uint32_t handle : {2u, 4u, 1u, 3u}) {
    table->DestroyResource(1, handle);
    EXPECT_EQ(table->Get(1, handle), nullptr);
  }
  // All that stays is the type's grown handle array.
  EXPECT_EQ(Holding().blocks, baseline.blocks + 1);
  EXPECT_EQ(Holding().pages, baseline.pages);
}

TEST_F(Tables, TheDisplayedSurfaceIsRecordedOnceAndReleasedBeforeItGoes) {
  SurfaceCreateRequest request = Request(11, 32, 32);
  request.flags2 = kRequestDisplayed;
  Surface3d* first = table->CreateSurface(1, &request);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Displayed(), first);
  Surface3d* second = table->CreateSurface(1, &request);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Displayed(), first);  // one is recorded already

  // A context holds the first as its colour target.
  first->bindingOwner = Context(0);
  Context(0)->colourTarget = first;
  Context(0)->targetFlags |= kTargetColourBound;
  table->DestroyResource(1, second->resourceHandle);
  EXPECT_EQ(Displayed(), first);
  table->DestroyResource(1, first->resourceHandle);
  EXPECT_EQ(Displayed(), nullptr);
  EXPECT_EQ(Context(0)->colourTarget, nullptr);
  EXPECT_EQ(Context(0)->targetFlags & kTargetColourBound, 0u);
}

TEST_F(Tables, DestroyingAnAbsentResourceChangesNothing) {
  SurfaceCreateRequest request = Request(11, 32, 32);
  Surface3d* s = table->CreateSurface(1, &request);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(table->AttachContext(Context(0)));
  // The context binds handles of the absent resources: it hears nothing.
  Context(0)->state.streams.bindings[0].handle = 1;
  Context(0)->state.stages[0].texture = 2;
  Context(0)->state.stages[0].textureKind = 1;
  Context(0)->state.ClearDirty();
  const Held before = Holding();
  const uint32_t capacity = table->TableOf(1)->Capacity();
  const struct {
    uint32_t type, handle;
  } cases[] = {{3, 1}, {0xFFFFFFFF, 1}, {1, capacity}, {1, 0xFFFFFFFF}, {1, 0}, {1, 2}, {0, 1}};
  for (auto c : cases) table->DestroyResource(c.type, c.handle);
  EXPECT_EQ(Context(0)->state.streams.changedMask, 0u);
  EXPECT_EQ(Context(0)->state.stages[0].dirty, 0u);
  EXPECT_EQ(Holding(), before);
  EXPECT_EQ(table->Get(1, 1), s);
}

TEST_F(Tables, AttachedContextsHearOfChangesAndAreLetGoByClear) {
  ASSERT_TRUE(table->AttachContext(ContextWithAux(0)));
  ASSERT_TRUE(table->AttachContext(ContextWithAux(1)));
  EXPECT_EQ(table->ContextCount(), 2u);
  SurfaceCreateRequest request = Request(11, 32, 32);
  request.fixedHandle = 9;
  ASSERT_NE(table->CreateSurface(2, &request), nullptr);
  // Both contexts read buffer 9 through stream 3.
  for (int i = 0; i < 2; ++i) {
    Context(i)->state.streams.bindings[3].handle = 9;
    Context(i)->state.ClearDirty();
  }
  table->DestroyResource(2, 9);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Context(i)->state.streams.changedMask, 0x08u) << i;

  // Each attached context gets its three auxiliary surfaces in the table.
  table->RebuildAuxSurfaces(pdev);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(Context(i)->aux.constant, nullptr) << i;
    EXPECT_NE(Context(i)->aux.line, nullptr) << i;
  }
  EXPECT_EQ(table->TableOf(0)->Count(), 6u);
  // A context lets its surfaces go before it leaves the table.
  Context(0)->aux.ReleaseAll();
  table->DetachContext(Context(0));
  EXPECT_EQ(table->ContextCount(), 1u);
  EXPECT_EQ(table->TableOf(0)->Count(), 3u);

  Context(1)->state.ClearDirty();
  table->Clear();
  EXPECT_EQ(table->ContextCount(), 0u);
  EXPECT_EQ(Context(1)->aux.constant, nullptr);
  EXPECT_EQ(Context(1)->aux.polygon, nullptr);
  EXPECT_EQ(Context(1)->resources, nullptr);
  EXPECT_EQ(Context(1)->state.raster.dirty, ~0u);
  // The detached context heard nothing.
  EXPECT_EQ(Context(0)->resources, table);
}

TEST_F(Tables, ClearReleasesTheDisplayedSurfaceFirstAndFreesTypesOneTwoZero) {
  Surface3d* made[3] = {};
  for (uint32_t type : {0u, 1u, 2u}) {
    SurfaceCreateRequest request = Request(11, 32, 32);
    if (type == 2) request.flags2 = kRequestDisplayed;
    made[type] = table->CreateSurface(type, &request);
    ASSERT_NE(made[type], nullptr);
    made[type]->bindingOwner = Context(type);
    Context(type)->depthTarget = made[type];
  }
  EXPECT_EQ(Displayed(), made[2]);
  table->Clear();
  for (uint32_t type : {0u, 1u, 2u}) EXPECT_EQ(Context(type)->depthTarget, nullptr) << type;
  EXPECT_EQ(Displayed(), nullptr);
  EXPECT_LT(Holding().blocks, baseline.blocks);  // the handle tables' own arrays went too
  // A cleared table takes nothing more.
  SurfaceCreateRequest request = Request(11, 32, 32);
  EXPECT_EQ(table->CreateSurface(1, &request), nullptr);
}

// ---- Companions --------------------------------------------------------------------------------

struct CompanionCase {
  const char* name;
  uint32_t code, width, height, type;
  uint8_t extraPlacement;
  bool companion;
};

TEST_F(Tables, OneRowSurfacesOfEvenWidthSixtyFourOrMoreGetACompanion) {
  const CompanionCase cases[] = {
      {"64 x 1", 11, 64, 1, 1, 0, true},      {"128 x 1, type 8", 11, 128, 1, 8, 0, true},
      {"63 x 1", 11, 63, 1, 1, 0, false},     {"65 x 1", 11, 65, 1, 1, 0, false},
      {"64 x 2", 11, 64, 2, 1, 0, false},     {"type 4", 11, 64, 1, 4, 0, false},
      {"class 1", 2, 64, 1, 1, 0, false},     {"class 7", 41, 64, 1, 1, 0, false},
      {"flag 128", 11, 64, 1, 1, kRequestNoCompanion, false},
  };
  for (const CompanionCase& c : cases) {
    SurfaceCreateRequest request = Request(c.code, c.width, c.height, kPlaceLocal | c.extraPlacement, c.type);
    Surface3d* s = table->CreateSurface(1, &request);
    ASSERT_NE(s, nullptr) << c.name;
    Surface3d* companion = s->Companion();
    EXPECT_EQ(companion != nullptr, c.companion) << c.name;
    if (companion != nullptr) {
      EXPECT_EQ(companion->Companion(), s);
      EXPECT_EQ(companion->options.heapSelector, kMmTypeCompanion);
      EXPECT_EQ(companion->SurfaceClass(), kSurfaceNoCompanion);
      EXPECT_EQ(table->Get(1, companion->resourceHandle), companion);
      EXPECT_NE(companion->resourceHandle, s->resourceHandle);
      EXPECT_EQ(companion->companionActive, 1);
    }
    table->Clear();
    DestroyResourceTable(pdev, kKey);
    table = CreateResourceTable(pdev, kKey);
    ASSERT_NE(table, nullptr);
  }
}

TEST_F(Tables, ACompanionTakesAFreeHandleAndNeverTheDisplayedBit) {
  SurfaceCreateRequest request = Request(11, 64, 1, kPlaceLocal, 1);
  request.fixedHandle = 1;
  request.flags2 = kRequestDisplayed;
  Surface3d* s = table->CreateSurface(1, &request);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->resourceHandle, 1u);
  ASSERT_NE(s->Companion(), nullptr);
  EXPECT_EQ(s->Companion()->resourceHandle, 2u);
  EXPECT_EQ(Displayed(), s);
}

TEST_F(Tables, EitherHalfOfAPairGoesOnceInEitherOrderAndUnderClear) {
  for (int way = 0; way < 3; ++way) {
    SurfaceCreateRequest request = Request(11, 64, 1, kPlaceLocal, 1);
    Surface3d* s = table->CreateSurface(1, &request);
    ASSERT_NE(s, nullptr);
    Surface3d* companion = s->Companion();
    ASSERT_NE(companion, nullptr);
    const uint32_t main = s->resourceHandle, other = companion->resourceHandle;
    if (way == 0) {
      table->DestroyResource(1, main);  // the companion goes with it
      EXPECT_EQ(table->Get(1, other), nullptr);
    } else if (way == 1) {
      table->DestroyResource(1, other);  // the surface stays, unlinked
      EXPECT_EQ(table->Get(1, main), s);
      EXPECT_EQ(s->Companion(), nullptr);
      table->DestroyResource(1, main);
    } else {
      table->Clear();
    }
    // All that stays is the type's grown handle array; Clear frees it and
    // the three handle tables too.
    EXPECT_EQ(Holding().blocks, way == 2 ? baseline.blocks - 3 : baseline.blocks + 1) << way;
    DestroyResourceTable(pdev, kKey);
    table = CreateResourceTable(pdev, kKey);
    ASSERT_NE(table, nullptr);
    baseline = Holding();
  }
}

// ---- Lists of tables ---------------------------------------------------------------------------

TEST_F(Tables, AKeyIsHeldOnceAndDestroyedOnce) {
  const Held before = Holding();
  EXPECT_EQ(CreateResourceTable(pdev, kKey), nullptr);  // present
  EXPECT_EQ(CreateResourceTable(pdev, 0), nullptr);
  EXPECT_EQ(Holding(), before);
  EXPECT_EQ(FindResourceTable(pdev, kKey), table);
  EXPECT_EQ(DestroyResourceTable(pdev, 999), 0);
  EXPECT_EQ(DestroyResourceTable(nullptr, kKey), 0);
  SurfaceCreateRequest request = SetRequest(11, 32, 32, 2, kSetMipChain);
  ASSERT_NE(table->CreateSurface(1, &request), nullptr);
  EXPECT_EQ(DestroyResourceTable(pdev, kKey), 1);
  EXPECT_EQ(DestroyResourceTable(pdev, kKey), 0);
  EXPECT_EQ(FindResourceTable(pdev, kKey), nullptr);
  table = nullptr;
}

TEST_F(SurfaceBoard, EachUnitHasItsListFromItsFirstDeviceToItsLast) {
  CommonData* common = Common();
  ResourceTableList* unit0 = common->resourceTables[0];
  ASSERT_NE(unit0, nullptr);
  EXPECT_EQ(common->resourceTables[1], nullptr);
  PDEV* second = Enable(other(), 1);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(common->resourceTables[1], nullptr);
  ResourceTable* t = CreateResourceTable(second, 77);
  ASSERT_NE(t, nullptr);
  SurfaceCreateRequest request = Request(11, 32, 32);
  ASSERT_NE(t->CreateSurface(0, &request), nullptr);
  EXPECT_EQ(FindResourceTable(pdev, 77), nullptr);  // another unit's
  DestroyPdev(kdev, second);
  EXPECT_EQ(common->resourceTables[1], nullptr);  // its tables went with it
  EXPECT_EQ(common->resourceTables[0], unit0);
}

}  // namespace
