#include "core/heap_object.h"

#include <string.h>

char* OsStrDup(const char* text) {
  size_t length = strlen(text);
  char* copy = static_cast<char*>(memAlloc(length + 1));
  if (copy != nullptr) memcpy(copy, text, length + 1);
  return copy;
}
