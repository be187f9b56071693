// Looking sections up by identifier in constant time: an index built once
// over a list answers what the list walk with xf86nameCompare answers (the
// first record whose identifier compares equal), so validating a file of
// many sections costs one pass instead of a walk per reference.
#pragma once

#include <string>
#include <unordered_map>

namespace xconf {

// The form under which xf86nameCompare finds two names equal: case folded,
// blanks, tabs and underscores left out; a missing name is empty.
std::string NameKey(const char* name);

template <typename T>
class NameIndex {
 public:
  explicit NameIndex(T* list) {
    for (T* record = list; record != nullptr; record = record->next) {
      if ((record->identifier == nullptr || *record->identifier == '\0') && first_empty_ == nullptr)
        first_empty_ = record;
      by_key_.try_emplace(NameKey(record->identifier), record);
    }
  }

  // The first record `name` names. An empty name matches only an empty or
  // missing identifier, as the comparison has it.
  T* Find(const char* name) const {
    if (name == nullptr || *name == '\0') return first_empty_;
    auto found = by_key_.find(NameKey(name));
    return found == by_key_.end() ? nullptr : found->second;
  }

 private:
  std::unordered_map<std::string, T*> by_key_;
  T* first_empty_ = nullptr;
};

}  // namespace xconf
