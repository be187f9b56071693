// The ordered map's members of the kernel build: the nil node shared by the
// maps of one type, records made by AddIfAbsent and deleted by DeleteAll,
// the record-keyed order, and every allocation through the glue.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <random>
#include <vector>

#include "core/otl_map.h"
#include "core/tests/otl_tree_check.h"
#include "kernel/map_records.h"
#include "kernel/pixel_state_key.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

namespace {

using orvtest::CheckTree;

// A record whose destruction is counted.
struct Counted {
  static inline int destroyed = 0;
  uint32_t value = 0;
  ~Counted() { ++destroyed; }
};

class KernelMap : public ::testing::Test {
 protected:
  orvsim::Simulation sim;
  kglue::Glue glue;
};

TEST_F(KernelMap, TheNilNodeLivesWhileAMapOfItsTypeDoes) {
  using M = Otl::Map<unsigned int, uint16_t*>;  // a type no other test uses
  ASSERT_EQ(M::_Nil, nullptr);
  M first;
  ASSERT_TRUE(first.ok());
  auto* nil = M::_Nil;
  ASSERT_NE(nil, nullptr);
  EXPECT_EQ(M::_Nilrefs, 1u);
  EXPECT_EQ(nil->_Color, M::_Black);
  {
    M second;
    EXPECT_EQ(M::_Nil, nil);
    EXPECT_EQ(M::_Nilrefs, 2u);
    second.DeleteAll();
    EXPECT_EQ(M::_Nilrefs, 1u);
    EXPECT_EQ(M::_Nil, nil);
  }
  first.DeleteAll();
  EXPECT_EQ(M::_Nil, nullptr);
  EXPECT_EQ(M::_Nilrefs, 0u);
  M third;
  EXPECT_NE(M::_Nil, nullptr);
  EXPECT_EQ(M::_Nilrefs, 1u);
  third.DeleteAll();
  EXPECT_TRUE(glue.LiveBlocks().empty());  // nodes, heads and nil nodes all from the glue
}

TEST_F(KernelMap, AddIfAbsentMakesOneRecordPerKeyAndDeleteAllDeletesEachOnce) {
  Otl::Map<unsigned int, Counted*> map;
  EXPECT_EQ(map.AddIfAbsent(7), 1);
  // The first key is the root, black, and both ends of the head.
  auto* root = map._Root();
  EXPECT_EQ(root->_Color, decltype(map)::_Black);
  EXPECT_EQ(map._Header()->_Left, root);
  EXPECT_EQ(map._Header()->_Right, root);
  Counted* record = map.find(7)->second;
  ASSERT_NE(record, nullptr);
  record->value = 70;

  const uint64_t allocations = glue.AllocationCount();
  EXPECT_EQ(map.AddIfAbsent(7), 0);
  EXPECT_EQ(glue.AllocationCount(), allocations);  // a present key allocates nothing
  EXPECT_EQ(map.find(7)->second, record);
  EXPECT_EQ(record->value, 70u);

  for (unsigned key : {0xFFFFFFFFu, 3u, 0u, 9u}) EXPECT_EQ(map.AddIfAbsent(key), 1);
  EXPECT_EQ(map.begin()->first, 0u);
  auto last = map.end();
  --last;
  EXPECT_EQ(last->first, 0xFFFFFFFFu);
  EXPECT_EQ(map.size(), 5u);

  Counted::destroyed = 0;
  map.DeleteAll();
  EXPECT_EQ(Counted::destroyed, 5);
  EXPECT_EQ(map.size(), 0u);
  EXPECT_FALSE(map.ok());
  EXPECT_TRUE(glue.LiveBlocks().empty());
}

// A record that says how it starts.
struct Prepared {
  static inline int prepared = 0;
  uint32_t value = 1;
  void Prepare() {
    value = 0x5A;
    ++prepared;
  }
};

TEST_F(KernelMap, AddIfAbsentPreparesEachNewRecordOnce) {
  Otl::Map<unsigned int, Prepared*> map;
  Prepared::prepared = 0;
  ASSERT_EQ(map.AddIfAbsent(4), 1);
  EXPECT_EQ(map.AddIfAbsent(4), 0);
  EXPECT_EQ(map.find(4)->second->value, 0x5Au);
  EXPECT_EQ(Prepared::prepared, 1);
  map.DeleteAll();

  // The kernel's record maps make and delete their records through the glue.
  Otl::Map<unsigned int, Float4*> values;
  Otl::Map<unsigned int, MaterialRecord*> materials;
  Otl::Map<unsigned int, Dword2*> pairs;
  Otl::Map<unsigned int, Dword3*> triples;
  Otl::Map<unsigned int, Dword4*> quads;
  for (unsigned key : {2u, 1u}) {
    EXPECT_EQ(values.AddIfAbsent(key), 1);
    EXPECT_EQ(materials.AddIfAbsent(key), 1);
    EXPECT_EQ(pairs.AddIfAbsent(key), 1);
    EXPECT_EQ(triples.AddIfAbsent(key), 1);
    EXPECT_EQ(quads.AddIfAbsent(key), 1);
  }
  const Float4 zero = {};
  EXPECT_EQ(memcmp(values.find(1)->second, &zero, sizeof(zero)), 0);
  EXPECT_EQ(materials.find(2)->second->vector[3][3], 0.0f);
  EXPECT_EQ(triples.find(2)->second->word[2], 0u);
  values.DeleteAll();
  materials.DeleteAll();
  pairs.DeleteAll();
  triples.DeleteAll();
  quads.DeleteAll();
  EXPECT_TRUE(glue.LiveBlocks().empty());
}

TEST_F(KernelMap, DeleteAllOfAnEmptyMapFreesTheHeadAndItsReference) {
  using M = Otl::Map<unsigned int, Counted*>;
  M map;
  const size_t live = glue.LiveBlocks().size();
  EXPECT_EQ(live, 2u);  // nil node and head
  map.DeleteAll();
  EXPECT_TRUE(glue.LiveBlocks().empty());
  EXPECT_EQ(M::_Nil, nullptr);
  map.DeleteAll();  // nothing left to do
}

TEST_F(KernelMap, EveryRefusedAllocationLeavesTheMapAsItWas) {
  using M = Otl::Map<unsigned int, uint32_t*>;
  // The constructor: the nil node, then the head.
  glue.FailAllocation(1);
  {
    M noNil;
    EXPECT_FALSE(noNil.ok());
    EXPECT_EQ(M::_Nil, nullptr);
    EXPECT_EQ(noNil.AddIfAbsent(1), 0);
  }
  glue.FailAllocation(2);
  {
    M noHead;
    EXPECT_FALSE(noHead.ok());
    EXPECT_EQ(M::_Nil, nullptr);  // the reference was dropped again
  }
  EXPECT_TRUE(glue.LiveBlocks().empty());

  M map;
  for (unsigned key = 0; key < 10; ++key) ASSERT_EQ(map.AddIfAbsent(key * 2), 1);
  const size_t live = glue.LiveBlocks().size();
  for (uint64_t nth : {1u, 2u}) {  // the record, then the node
    glue.FailAllocation(nth);
    EXPECT_EQ(map.AddIfAbsent(5), 0) << nth;
    EXPECT_EQ(map.size(), 10u);
    EXPECT_TRUE(map.find(5) == map.end());
    EXPECT_EQ(glue.LiveBlocks().size(), live) << nth;
    EXPECT_EQ(CheckTree(map), 10u);
  }
  EXPECT_EQ(map.AddIfAbsent(5), 1);
  EXPECT_NE(map.find(5)->second, nullptr);  // no key ever maps to null
  map.DeleteAll();
}

TEST_F(KernelMap, RandomAddsAndErasesKeepTheTreeAndMatchAReference) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    Otl::Map<unsigned int, uint32_t*> map;
    std::map<unsigned, bool> reference;
    for (int step = 0; step < 500; ++step) {
      const unsigned key = random() % 64;
      if (random() % 3 != 0) {
        const bool added = reference.emplace(key, true).second;
        ASSERT_EQ(map.AddIfAbsent(key), added ? 1 : 0);
      } else if (reference.erase(key) == 1) {
        auto it = map.lower_bound(key);
        ASSERT_FALSE(it == map.end());
        ASSERT_EQ(it->first, key);
        uint32_t* record = it->second;
        map.erase(it);
        memFree(record);  // erase leaves the record to its owner
      }
      ASSERT_EQ(CheckTree(map), reference.size());
    }
    std::vector<unsigned> keys;
    for (auto it = map.begin(); it != map.end(); ++it) keys.push_back(it->first);
    std::vector<unsigned> expected;
    for (const auto& [key, present] : reference) expected.push_back(key);
    EXPECT_EQ(keys, expected);
    map.DeleteAll();
  }
  EXPECT_TRUE(glue.LiveBlocks().empty());
}

TEST_F(KernelMap, RecordKeysDescendOnTheirStateBytesAndIgnoreTheirFirstWord) {
  Otl::Map<PixelStateKey, uint32_t*> map;
  auto key = [](uint32_t word, uint8_t first, uint8_t last) {
    PixelStateKey k{};
    k.word = word;
    k.state[0] = first;
    k.state[kPixelStateBytes - 1] = last;
    return k;
  };
  ASSERT_TRUE(map.insert({key(1, 0x10, 0), nullptr}).second);
  ASSERT_TRUE(map.insert({key(2, 0x80, 0), nullptr}).second);
  ASSERT_TRUE(map.insert({key(3, 0x10, 5), nullptr}).second);
  ASSERT_TRUE(map.insert({key(4, 0x00, 0xFF), nullptr}).second);
  // Bytes compare unsigned, from the first: 0x80... > 0x10..05 > 0x10..00 > 0x00..FF.
  std::vector<uint32_t> words;
  for (auto it = map.begin(); it != map.end(); ++it) words.push_back(it->first.word);
  EXPECT_EQ(words, (std::vector<uint32_t>{2, 3, 1, 4}));
  // Another first word with the same state bytes is the same key.
  EXPECT_FALSE(map.insert({key(99, 0x80, 0), nullptr}).second);
  EXPECT_EQ(map.find(key(77, 0x10, 5))->first.word, 3u);
}

}  // namespace
