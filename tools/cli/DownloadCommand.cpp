// zentrel-cli download: not built yet.
#include <cstdio>

#include "tools/cli/Commands.h"

int RunDownload(const QStringList&) {
  std::fputs("zentrel-cli download: not built yet\n", stderr);
  return 2;
}
