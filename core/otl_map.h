// Ordered map over a red-black tree. Every tree of one instance type shares a
// single black nil node, kept alive by a count of live trees; each tree has a
// red header node whose parent is the root and whose left and right children
// are the leftmost and rightmost nodes. The header is the end of iteration.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>
#include <type_traits>

#include "core/heap_object.h"
#include "core/otl_base.h"

namespace Otl {

template <class K, class V, class KFn, class Cmp, class Alloc>
class _Tree {
 public:
  using key_type = K;
  using value_type = V;

  enum : uint32_t { _Red = 0, _Black = 1 };

  struct _Node {
    _Node* _Left;
    _Node* _Parent;
    _Node* _Right;
    uint32_t _Color;
    alignas(V) unsigned char _Storage[sizeof(V)];

    V& _Value() { return *reinterpret_cast<V*>(_Storage); }
  };
  using _NodeAlloc = typename Alloc::template rebind<_Node>;

  class iterator {
   public:
    iterator() = default;
    explicit iterator(_Node* node, const _Tree* tree) : node_(node), tree_(tree) {}
    V& operator*() const { return node_->_Value(); }
    V* operator->() const { return &node_->_Value(); }
    bool operator==(const iterator& other) const { return node_ == other.node_; }
    iterator& operator++() {
      node_ = tree_->_Successor(node_);
      return *this;
    }
    iterator& operator--() {
      node_ = tree_->_Predecessor(node_);
      return *this;
    }
    _Node* _Mynode() const { return node_; }

   private:
    _Node* node_ = nullptr;
    const _Tree* tree_ = nullptr;
  };

  // Nil node of this instance type and the number of trees holding it.
  static inline _Node* _Nil = nullptr;
  static inline uint64_t _Nilrefs = 0;

  _Tree() {
    _Node* candidate = _NodeAlloc::allocate(1);
    if (candidate != nullptr) {
      candidate->_Parent = nullptr;
      candidate->_Color = _Black;
    }
    if (_Nil == nullptr) {
      if (candidate == nullptr) return;  // no nil node: the tree stays unusable
      candidate->_Left = nullptr;
      candidate->_Right = nullptr;
      _Nil = candidate;
      candidate = nullptr;
    }
    ++_Nilrefs;
    if (candidate != nullptr) _NodeAlloc::deallocate(candidate);

    _Head = _NodeAlloc::allocate(1);
    if (_Head == nullptr) {
      _DropNil();
      return;
    }
    _Head->_Color = _Red;
    _Head->_Parent = _Nil;
    _Head->_Left = _Head;
    _Head->_Right = _Head;
    _Size = 0;
  }

  ~_Tree() {
    if (_Head == nullptr) return;
    _Erase(_Root());
    _NodeAlloc::deallocate(_Head);
    _Head = nullptr;
    _DropNil();
  }

  _Tree(const _Tree&) = delete;
  _Tree& operator=(const _Tree&) = delete;

  // False when the constructor could not allocate its nodes.
  bool ok() const { return _Head != nullptr; }
  size_t size() const { return _Size; }
  bool empty() const { return _Size == 0; }

  iterator begin() const { return iterator(_Head ? _Head->_Left : nullptr, this); }
  iterator end() const { return iterator(_Head, this); }

  // The first node whose key is not less than key, or end().
  iterator lower_bound(const K& key) const {
    if (_Head == nullptr) return end();
    _Node* candidate = _Head;
    for (_Node* x = _Root(); x != _Nil;) {
      if (_Cmp(_Key(x), key)) {
        x = x->_Right;
      } else {
        candidate = x;
        x = x->_Left;
      }
    }
    return iterator(candidate, this);
  }

  iterator find(const K& key) const {
    iterator it = lower_bound(key);
    if (it == end() || _Cmp(key, _Key(it._Mynode()))) return end();
    return it;
  }

  // Unique insertion. {position, true} for a new node; {existing, false} for
  // a key already present; {end(), false} when no node could be allocated.
  Pair<iterator, bool> insert(const V& value) {
    if (_Head == nullptr) return {end(), false};
    const K& key = KFn()(value);
    _Node* y = _Head;
    _Node* x = _Root();
    bool addLeft = true;
    while (x != _Nil) {
      y = x;
      addLeft = _Cmp(key, _Key(x));
      x = addLeft ? x->_Left : x->_Right;
    }
    _Node* pred = y;
    if (addLeft) {
      if (y == _Lmost()) return _InsertResult(x, y, value);
      pred = _Predecessor(y);
    }
    if (_Cmp(_Key(pred), key)) return _InsertResult(x, y, value);
    return {iterator(pred, this), false};
  }

  // Links a new node holding a copy of value as a child of y; false (tree
  // unchanged) when the node cannot be allocated.
  bool _Insert(_Node* x, _Node* y, const V& value, iterator* out) {
    _Node* z = _NodeAlloc::allocate(1);
    if (z == nullptr) return false;
    new (z->_Storage) V(value);
    ++_Size;
    if (y == _Head || x != _Nil || _Cmp(KFn()(value), _Key(y))) {
      y->_Left = z;
      if (y == _Head) {
        _Head->_Parent = z;
        _Head->_Right = z;
      } else if (y == _Lmost()) {
        _Head->_Left = z;
      }
    } else {
      y->_Right = z;
      if (y == _Rmost()) _Head->_Right = z;
    }
    z->_Parent = y;
    z->_Left = _Nil;
    z->_Right = _Nil;
    z->_Color = _Red;

    for (x = z; x != _Root() && x->_Parent->_Color == _Red;) {
      _Node* parent = x->_Parent;
      _Node* grand = parent->_Parent;
      if (parent == grand->_Left) {
        _Node* uncle = grand->_Right;
        if (uncle->_Color == _Red) {
          parent->_Color = _Black;
          uncle->_Color = _Black;
          grand->_Color = _Red;
          x = grand;
          continue;
        }
        if (x == parent->_Right) {
          x = parent;
          _Lrotate(x);
        }
        x->_Parent->_Color = _Black;
        x->_Parent->_Parent->_Color = _Red;
        _Rrotate(x->_Parent->_Parent);
      } else {
        _Node* uncle = grand->_Left;
        if (uncle->_Color == _Red) {
          parent->_Color = _Black;
          uncle->_Color = _Black;
          grand->_Color = _Red;
          x = grand;
          continue;
        }
        if (x == parent->_Left) {
          x = parent;
          _Rrotate(x);
        }
        x->_Parent->_Color = _Black;
        x->_Parent->_Parent->_Color = _Red;
        _Lrotate(x->_Parent->_Parent);
      }
    }
    _Root()->_Color = _Black;
    if (out != nullptr) *out = iterator(z, this);
    return true;
  }

  // Removes the node at position and answers its in-order successor.
  iterator erase(iterator position) {
    _Node* z = position._Mynode();
    if (_Head == nullptr || z == nullptr || z == _Head) return end();
    _Node* next = _Successor(z);

    _Node* y = z;
    _Node* x;
    _Node* xParent;
    if (y->_Left == _Nil) {
      x = y->_Right;
    } else if (y->_Right == _Nil) {
      x = y->_Left;
    } else {
      y = next;
      x = y->_Right;
    }

    if (y == z) {
      xParent = z->_Parent;
      if (x != _Nil) x->_Parent = xParent;
      if (_Root() == z) {
        _Head->_Parent = x;
      } else if (xParent->_Left == z) {
        xParent->_Left = x;
      } else {
        xParent->_Right = x;
      }
      if (_Lmost() == z) _Head->_Left = (x == _Nil) ? xParent : _Min(x);
      if (_Rmost() == z) _Head->_Right = (x == _Nil) ? xParent : _Max(x);
    } else {
      z->_Left->_Parent = y;
      y->_Left = z->_Left;
      if (y == z->_Right) {
        xParent = y;
      } else {
        xParent = y->_Parent;
        if (x != _Nil) x->_Parent = xParent;
        xParent->_Left = x;
        y->_Right = z->_Right;
        z->_Right->_Parent = y;
      }
      if (_Root() == z) {
        _Head->_Parent = y;
      } else if (z->_Parent->_Left == z) {
        z->_Parent->_Left = y;
      } else {
        z->_Parent->_Right = y;
      }
      y->_Parent = z->_Parent;
      uint32_t color = y->_Color;
      y->_Color = z->_Color;
      z->_Color = color;
    }

    if (z->_Color == _Black) {
      while (x != _Root() && x->_Color == _Black) {
        if (x == xParent->_Left) {
          _Node* w = xParent->_Right;
          if (w->_Color == _Red) {
            w->_Color = _Black;
            xParent->_Color = _Red;
            _Lrotate(xParent);
            w = xParent->_Right;
          }
          if (w->_Left->_Color == _Black && w->_Right->_Color == _Black) {
            w->_Color = _Red;
            x = xParent;
            xParent = xParent->_Parent;
          } else {
            if (w->_Right->_Color == _Black) {
              w->_Left->_Color = _Black;
              w->_Color = _Red;
              _Rrotate(w);
              w = xParent->_Right;
            }
            w->_Color = xParent->_Color;
            xParent->_Color = _Black;
            w->_Right->_Color = _Black;
            _Lrotate(xParent);
            break;
          }
        } else {
          _Node* w = xParent->_Left;
          if (w->_Color == _Red) {
            w->_Color = _Black;
            xParent->_Color = _Red;
            _Rrotate(xParent);
            w = xParent->_Left;
          }
          if (w->_Right->_Color == _Black && w->_Left->_Color == _Black) {
            w->_Color = _Red;
            x = xParent;
            xParent = xParent->_Parent;
          } else {
            if (w->_Left->_Color == _Black) {
              w->_Right->_Color = _Black;
              w->_Color = _Red;
              _Lrotate(w);
              w = xParent->_Left;
            }
            w->_Color = xParent->_Color;
            xParent->_Color = _Black;
            w->_Left->_Color = _Black;
            _Rrotate(xParent);
            break;
          }
        }
      }
      if (x != _Nil) x->_Color = _Black;
    }

    z->_Value().~V();
    _NodeAlloc::deallocate(z);
    --_Size;
    return iterator(next, this);
  }

  // Frees the subtree rooted at node without rebalancing; the caller fixes
  // the header and the count.
  void _Erase(_Node* node) {
    while (node != _Nil) {
      _Erase(node->_Right);
      _Node* left = node->_Left;
      node->_Value().~V();
      _NodeAlloc::deallocate(node);
      node = left;
    }
  }

  void clear() {
    if (_Head == nullptr) return;
    _Erase(_Root());
    _Head->_Parent = _Nil;
    _Head->_Left = _Head;
    _Head->_Right = _Head;
    _Size = 0;
  }

  _Node* _Header() const { return _Head; }
  _Node* _Root() const { return _Head->_Parent; }
  _Node* _Lmost() const { return _Head->_Left; }
  _Node* _Rmost() const { return _Head->_Right; }

 protected:
  static const K& _Key(_Node* node) { return KFn()(node->_Value()); }
  static bool _Cmp(const K& a, const K& b) { return Cmp()(a, b); }

  static _Node* _Min(_Node* node) {
    while (node->_Left != _Nil) node = node->_Left;
    return node;
  }
  static _Node* _Max(_Node* node) {
    while (node->_Right != _Nil) node = node->_Right;
    return node;
  }

  _Node* _Successor(_Node* node) const {
    if (node == _Head) return _Head;
    if (node->_Right != _Nil) return _Min(node->_Right);
    _Node* parent = node->_Parent;
    while (parent != _Head && node == parent->_Right) {
      node = parent;
      parent = parent->_Parent;
    }
    return parent;
  }
  _Node* _Predecessor(_Node* node) const {
    if (node == _Head) return _Head->_Right;
    if (node->_Left != _Nil) return _Max(node->_Left);
    _Node* parent = node->_Parent;
    while (parent != _Head && node == parent->_Left) {
      node = parent;
      parent = parent->_Parent;
    }
    return parent;
  }

  void _Lrotate(_Node* x) {
    _Node* y = x->_Right;
    x->_Right = y->_Left;
    if (y->_Left != _Nil) y->_Left->_Parent = x;
    y->_Parent = x->_Parent;
    if (x == _Root()) {
      _Head->_Parent = y;
    } else if (x == x->_Parent->_Left) {
      x->_Parent->_Left = y;
    } else {
      x->_Parent->_Right = y;
    }
    y->_Left = x;
    x->_Parent = y;
  }
  void _Rrotate(_Node* x) {
    _Node* y = x->_Left;
    x->_Left = y->_Right;
    if (y->_Right != _Nil) y->_Right->_Parent = x;
    y->_Parent = x->_Parent;
    if (x == _Root()) {
      _Head->_Parent = y;
    } else if (x == x->_Parent->_Right) {
      x->_Parent->_Right = y;
    } else {
      x->_Parent->_Left = y;
    }
    y->_Right = x;
    x->_Parent = y;
  }

  Pair<iterator, bool> _InsertResult(_Node* x, _Node* y, const V& value) {
    iterator it;
    if (!_Insert(x, y, value, &it)) return {end(), false};
    return {it, true};
  }

  static void _DropNil() {
    if (--_Nilrefs == 0) {
      _NodeAlloc::deallocate(_Nil);
      _Nil = nullptr;
    }
  }

  _Node* _Head = nullptr;
  bool _Multi = false;  // keys are unique in every instance
  size_t _Size = 0;
};

// Key extractor of the map's pairs.
template <class K, class T>
struct _MapKfn {
  const K& operator()(const Pair<const K, T>& value) const { return value.first; }
};

template <class K, class T, class Alloc = allocator<T>>
class Map : public _Tree<K, Pair<const K, T>, _MapKfn<K, T>, less<K>, Alloc> {
  using _Base = _Tree<K, Pair<const K, T>, _MapKfn<K, T>, less<K>, Alloc>;

 public:
  using _Kfn = _MapKfn<K, T>;
  using mapped_type = T;
  using iterator = typename _Base::iterator;
  using _Node = typename _Base::_Node;

  // ---- Maps of owned records (T is a pointer to the record) ----------------
  // The kernel build's members: a record per key, made by AddIfAbsent and
  // deleted with the map by DeleteAll, both through OsNew and OsDelete.

  // Adds the key with a new record: 1; 0 when the key is present (nothing is
  // allocated then) or when the record or the node cannot be had (the map is
  // unchanged then, and no key is ever left mapped to null).
  uint8_t AddIfAbsent(const K& key) {
    if (this->_Head == nullptr) return 0;
    iterator found = this->lower_bound(key);
    if (found != this->end() && !_Base::_Cmp(key, _Base::_Key(found._Mynode()))) return 0;
    _Record* record = OsNew<_Record>();
    if (record == nullptr) return 0;
    // Records that say how they start are prepared here.
    if constexpr (requires(_Record& r) { r.Prepare(); }) record->Prepare();
    _Node* parent = this->_Head;
    for (_Node* x = this->_Root(); x != _Base::_Nil;) {
      parent = x;
      x = _Base::_Cmp(key, _Base::_Key(x)) ? x->_Left : x->_Right;
    }
    if (!this->_Insert(_Base::_Nil, parent, Pair<const K, T>{key, record}, nullptr)) {
      OsDelete(record);
      return 0;
    }
    return 1;
  }

  // Deletes every record, in ascending key order, then the map itself: its
  // nodes, its head and its reference on the nil node. The map is unusable
  // afterwards.
  void DeleteAll() {
    if (this->_Head == nullptr) return;
    for (iterator it = this->begin(); it != this->end(); ++it) {
      OsDelete(it->second);
    }
    if (this->_Size != 0) this->clear();
    _Base::_NodeAlloc::deallocate(this->_Head);
    this->_Head = nullptr;
    this->_Size = 0;
    _Base::_DropNil();
  }

 private:
  using _Record = std::remove_pointer_t<T>;
};

}  // namespace Otl
