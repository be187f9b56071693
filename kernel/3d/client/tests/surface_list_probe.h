// What the client-surface tests read out of a surface list: how many
// handles each of its lists holds, whether a handle is in one, and the
// level ids a surface's chain reserves. Test code only; it reads the
// list's private members as its friend.
#pragma once

#include <stdint.h>

#include "kernel/3d/client/client_surfaces.h"

struct SurfaceList3dProbe {
  static uint32_t PlainCount(const SurfaceList3d& list) { return list.plainList_.count; }
  static uint32_t SavedCount(const SurfaceList3d& list) { return list.savedList_.count; }
  static uint32_t SavedRecordCount(const SurfaceList3d& list) { return list.savedRecords_.count; }
  static bool InPlainList(const SurfaceList3d& list, uint64_t handle) { return Contains(list.plainList_, handle); }
  static bool InSavedList(const SurfaceList3d& list, uint64_t handle) { return Contains(list.savedList_, handle); }
  static uint32_t LevelIdCount(const SurfaceList3d& list) { return list.levelIds_.Count(); }

  // The level ids of a handle's surface, chain order; the count written.
  // A saved surface's ids stay reserved while it is away: they are found
  // through its saved record.
  static uint32_t LevelIdsOf(const SurfaceList3d& list, uint64_t handle, uint32_t* ids, uint32_t room) {
    const ClientObject* object = list.Object(handle);
    uint32_t id = object != nullptr ? object->info.firstLevelId : 0;
    if (object == nullptr) {
      const SurfaceList3d::List& records = list.savedRecords_;
      for (const SurfaceList3d::Node* n = records.sentinel.next; n != &records.sentinel; n = n->next)
        if (n->record != nullptr && n->record->info.handle == handle) id = n->record->info.firstLevelId;
    }
    uint32_t count = 0;
    while (id != 0 && count < room && list.levelIds_.Get(id) != nullptr) {
      ids[count++] = id;
      auto it = list.levelChain_.find(id);
      id = it != list.levelChain_.end() ? it->second : 0;
    }
    return count;
  }

 private:
  static bool Contains(const SurfaceList3d::List& l, uint64_t handle) {
    for (const SurfaceList3d::Node* node = l.sentinel.next; node != &l.sentinel; node = node->next)
      if (node->handle == handle) return true;
    return false;
  }
};
