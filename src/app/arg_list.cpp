#include "app/arg_list.h"

#include "platform/platform.h"

namespace torsel {

ArgList gArgs;

void clearArgList(ArgList* list) {
  list->argCount = 0;
  list->poolUsed = 0;
  list->argPool[0] = '\0';
  list->argItems[0] = list->argPool;
}

int addArgToken(ArgList* list, const char* arg) {
  // The last slot marks the end of the vector and is never a token.
  if (arg[0] == '\0' || list->argCount >= kArgSlots - 1) return 0;
  const int start = list->poolUsed;
  // At most this many bytes of the argument are looked at, so that the pool
  // always has room for the terminator.
  const int limit = 0xFFFD - start;
  int w = start;
  if (arg[0] != '"') {
    for (int i = 0; i < limit && arg[i] != '\0'; i++) list->argPool[w++] = arg[i];
  } else {
    bool trail = false;
    for (int i = 1; i < limit && arg[i] != '\0'; i++) {
      unsigned char c = static_cast<unsigned char>(arg[i]);
      if (trail) {
        trail = false;
      } else if (plat::isLeadByte(c)) {
        trail = true;
      } else if (c == '"') {
        break;
      }
      list->argPool[w++] = static_cast<char>(c);
    }
  }
  if (w == start) return 0;
  list->argPool[w++] = '\0';
  list->argItems[list->argCount] = list->argPool + start;
  list->argCount++;
  list->argItems[list->argCount] = list->argPool + w;
  list->argPool[w] = '\0';
  list->poolUsed = w;
  return 0;
}

}  // namespace torsel
