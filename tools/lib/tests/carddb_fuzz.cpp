// Fuzz target of the board database reader: any bytes must read without
// touching memory outside the input, and every record must come out with a
// terminated name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/lib/carddb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) return 0;
  PrivateList* list = nullptr;
  CardReadDatabase(f, &list);
  std::fclose(f);
  for (const PrivateList* n = list; n; n = n->next) {
    CardAttribute c;
    std::memcpy(&c, n->Payload(), sizeof c);
    if (strnlen(c.name, sizeof c.name) >= sizeof c.name) std::abort();
    if (c.driver != kDriverOrv && c.driver != kDriverQlb) std::abort();
    if ((c.kvd != 0 && c.kvd != 1) || (c.openGL != 0 && c.openGL != 1)) std::abort();
  }
  PrivateDeleteList(list);
  return 0;
}
