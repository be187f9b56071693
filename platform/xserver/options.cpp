// Driver options: gathering a screen's option list from its sections,
// parsing it into a driver's option table with the server's name matching,
// and the table's getters.
#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "platform/xserver/server_state.h"
#include "tools/lib/parser/xconfig.h"

namespace {

XConfOption* AsList(pointer options) { return static_cast<XConfOption*>(options); }

// Merges a copy of list into head; later sections win over earlier ones.
XConfOption* MergeCopy(XConfOption* head, pointer list) {
  if (list == nullptr) return head;
  return xf86optionListMerge(head, xf86optionListDup(AsList(list)));
}

bool ParseBoolean(const char* text, Bool* out) {
  if (text == nullptr || *text == '\0') {
    *out = TRUE;
    return true;
  }
  for (const char* yes : {"1", "on", "true", "yes"}) {
    if (xf86NameCmp(text, yes) == 0) {
      *out = TRUE;
      return true;
    }
  }
  for (const char* no : {"0", "off", "false", "no"}) {
    if (xf86NameCmp(text, no) == 0) {
      *out = FALSE;
      return true;
    }
  }
  return false;
}

// A number with nothing but blanks after it.
bool ParseLong(const char* text, long* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 0);
  if (end == text || errno != 0) return false;
  while (isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '\0') return false;
  *out = value;
  return true;
}

bool ParseReal(const char* text, double* out, char** rest) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  double value = strtod(text, &end);
  if (end == text) return false;
  *out = value;
  *rest = end;
  return true;
}

// Parses one option's value into the row; false (with a message) when the
// value does not fit the row's type.
bool ParseValue(int scrnIndex, OptionInfoPtr row, const char* value, bool inverted) {
  switch (row->type) {
    case OPTV_NONE:
      if (value != nullptr && *value != '\0') {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" may not have a value\n", row->name);
        return false;
      }
      return true;
    case OPTV_INTEGER: {
      long number = 0;
      if (!ParseLong(value, &number)) {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires an integer value\n",
                   row->name);
        return false;
      }
      row->value.num = static_cast<unsigned long>(number);
      return true;
    }
    case OPTV_STRING:
      if (value == nullptr || *value == '\0') {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a string value\n", row->name);
        return false;
      }
      row->value.str = const_cast<char*>(value);
      return true;
    case OPTV_ANYSTR:
      row->value.str = const_cast<char*>(value != nullptr ? value : "");
      return true;
    case OPTV_REAL: {
      double number = 0;
      char* rest = nullptr;
      if (!ParseReal(value, &number, &rest) || *rest != '\0') {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a real value\n", row->name);
        return false;
      }
      row->value.realnum = number;
      return true;
    }
    case OPTV_BOOLEAN: {
      Bool on = FALSE;
      if (!ParseBoolean(value, &on)) {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a boolean value\n", row->name);
        return false;
      }
      row->value.boolean = inverted ? !on : on;
      return true;
    }
    case OPTV_PERCENT: {
      double number = 0;
      char* rest = nullptr;
      if (!ParseReal(value, &number, &rest) || (*rest != '\0' && strcmp(rest, "%") != 0)) {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a percent value\n", row->name);
        return false;
      }
      row->value.realnum = number;
      return true;
    }
    case OPTV_FREQ: {
      double number = 0;
      char* rest = nullptr;
      if (!ParseReal(value, &number, &rest)) {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a frequency value\n",
                   row->name);
        return false;
      }
      int units = 0;
      while (isspace(static_cast<unsigned char>(*rest))) ++rest;
      if (*rest == '\0') units = 0;
      else if (xf86NameCmp(rest, "Hz") == 0) units = OPTUNITS_HZ;
      else if (xf86NameCmp(rest, "kHz") == 0 || xf86NameCmp(rest, "k") == 0) units = OPTUNITS_KHZ;
      else if (xf86NameCmp(rest, "MHz") == 0 || xf86NameCmp(rest, "M") == 0) units = OPTUNITS_MHZ;
      else {
        xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" requires a frequency value\n",
                   row->name);
        return false;
      }
      row->value.freq.freq = number;
      row->value.freq.units = units;
      return true;
    }
  }
  return false;
}

const OptionInfoRec* Row(const OptionInfoRec* table, int token) {
  if (table == nullptr) return nullptr;
  for (const OptionInfoRec* p = table; p->name != nullptr && p->token >= 0; ++p) {
    if (p->token == token) return p;
  }
  return nullptr;
}

}  // namespace

extern "C" {

int xf86NameCmp(const char* s1, const char* s2) { return xf86nameCompare(s1, s2); }

void xf86CollectOptions(ScrnInfoPtr screen, pointer extraOpts) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (screen == nullptr) return;
  XConfOption* list = nullptr;
  if (screen->confScreen != nullptr) list = MergeCopy(list, screen->confScreen->options);
  if (screen->monitor != nullptr) list = MergeCopy(list, screen->monitor->options);
  for (int i = 0; i < screen->numEntities; ++i) {
    GDevPtr device = xf86GetDevFromEntity(screen->entityList[i], screen->entityInstanceList[i]);
    if (device != nullptr) list = MergeCopy(list, device->options);
  }
  if (screen->display != nullptr) list = MergeCopy(list, screen->display->options);
  list = MergeCopy(list, extraOpts);
  screen->options = s != nullptr ? s->TakeOptions(list) : list;
}

void xf86ProcessOptions(int scrnIndex, pointer options, OptionInfoPtr table) {
  if (table == nullptr) return;
  XConfOption* list = AsList(options);
  for (OptionInfoPtr row = table; row->name != nullptr && row->token >= 0; ++row) {
    row->found = FALSE;
    XConfOption* option = xf86findOption(list, row->name);
    bool inverted = false;
    if (option == nullptr && row->type == OPTV_BOOLEAN) {
      // "NoFoo" sets the boolean "Foo" to the opposite of its value.
      std::string negated = std::string("No") + row->name;
      option = xf86findOption(list, negated.c_str());
      inverted = option != nullptr;
    }
    if (option == nullptr) continue;
    option->used = 1;
    row->found = ParseValue(scrnIndex, row, option->value, inverted) ? TRUE : FALSE;
  }
}

OptionInfoPtr xf86TokenToOptinfo(const OptionInfoRec* table, int token) {
  return const_cast<OptionInfoPtr>(Row(table, token));
}

const char* xf86TokenToOptName(const OptionInfoRec* table, int token) {
  const OptionInfoRec* row = Row(table, token);
  return row != nullptr ? row->name : nullptr;
}

Bool xf86IsOptionSet(const OptionInfoRec* table, int token) {
  const OptionInfoRec* row = Row(table, token);
  return row != nullptr && row->found;
}

char* xf86GetOptValString(const OptionInfoRec* table, int token) {
  const OptionInfoRec* row = Row(table, token);
  return row != nullptr && row->found ? row->value.str : nullptr;
}

Bool xf86GetOptValBool(const OptionInfoRec* table, int token, Bool* value) {
  const OptionInfoRec* row = Row(table, token);
  if (row == nullptr || !row->found) return FALSE;
  if (value != nullptr) *value = row->value.boolean;
  return TRUE;
}

Bool xf86ReturnOptValBool(const OptionInfoRec* table, int token, Bool def) {
  const OptionInfoRec* row = Row(table, token);
  return row != nullptr && row->found ? row->value.boolean : def;
}

Bool xf86GetOptValInteger(const OptionInfoRec* table, int token, int* value) {
  const OptionInfoRec* row = Row(table, token);
  if (row == nullptr || !row->found) return FALSE;
  if (value != nullptr) *value = static_cast<int>(row->value.num);
  return TRUE;
}

Bool xf86GetOptValULong(const OptionInfoRec* table, int token, unsigned long* value) {
  const OptionInfoRec* row = Row(table, token);
  if (row == nullptr || !row->found) return FALSE;
  if (value != nullptr) *value = row->value.num;
  return TRUE;
}

Bool xf86GetOptValReal(const OptionInfoRec* table, int token, double* value) {
  const OptionInfoRec* row = Row(table, token);
  if (row == nullptr || !row->found) return FALSE;
  if (value != nullptr) *value = row->value.realnum;
  return TRUE;
}

void xf86ShowUnusedOptions(int scrnIndex, pointer options) {
  for (XConfOption* o = AsList(options); o != nullptr; o = o->next) {
    if (!o->used) xf86DrvMsg(scrnIndex, X_WARNING, "Option \"%s\" is not used\n", o->name);
  }
}

pointer xf86FindOption(pointer options, const char* name) {
  return xf86findOption(AsList(options), name);
}

const char* xf86FindOptionValue(pointer options, const char* name) {
  XConfOption* option = xf86findOption(AsList(options), name);
  if (option == nullptr) return nullptr;
  return option->value != nullptr ? option->value : "";
}

}  // extern "C"
