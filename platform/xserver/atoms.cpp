// Atoms: names the server hands numbers out for, once per name for the
// server's life. Numbers start after the protocol's predefined atoms.
#include <stdio.h>

#include <string>

#include "platform/xserver/xv_state.h"

using xstub::detail::CurrentXv;
using xstub::detail::kFirstAtom;
using xstub::detail::XvState;

extern "C" {

Atom MakeAtom(const char* name, unsigned len, Bool makeit) {
  XvState* xv = CurrentXv();
  if (xv == nullptr) {
    fprintf(stderr, "xserver stand-in: MakeAtom without an installed X server\n");
    return 0;
  }
  if (name == nullptr) return 0;
  const std::string key(name, len);
  auto it = xv->atoms.find(key);
  if (it != xv->atoms.end()) return it->second;
  if (!makeit) return 0;
  const Atom atom = kFirstAtom + static_cast<Atom>(xv->atom_names.size());
  xv->atoms.emplace(key, atom);
  xv->atom_names.push_back(key);
  return atom;
}

const char* NameForAtom(Atom atom) {
  XvState* xv = CurrentXv();
  if (xv == nullptr || atom < kFirstAtom || atom - kFirstAtom >= xv->atom_names.size())
    return nullptr;
  return xv->atom_names[atom - kFirstAtom].c_str();
}

Bool ValidAtom(Atom atom) {
  // The predefined atoms (1 to 68) always exist.
  return (atom != 0 && atom < kFirstAtom) || NameForAtom(atom) != nullptr ? TRUE : FALSE;
}

}  // extern "C"
