// Replays a serialised FMU state in a process of its own:
//   quenzel_state_replay me|cs <image file> <t1> <t2> <step> <tolerance>
// loads Quenzel.so, deserialises the image into a fresh instance, sets it and runs from t1 to
// t2, printing y after every step as exact hexadecimal values. Exit status 0 on success.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "state_replay.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: %s me|cs image t1 t2 step tolerance\n", argv[0]);
    return 2;
  }
  fmi2Type kind = strcmp(argv[1], "cs") == 0 ? fmi2CoSimulation : fmi2ModelExchange;
  std::ifstream file(argv[2], std::ios::binary);
  std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  FmuLibrary unit;
  if (!unit.loaded()) {
    fprintf(stderr, "%s\n", unit.error().c_str());
    return 1;
  }
  HostCallbacks host;
  std::vector<double> ys;
  if (!replay::replayImage(unit, host.functions(), kind, image, atof(argv[3]), atof(argv[4]), atof(argv[5]),
                           atof(argv[6]), &ys)) {
    for (const LogRecord& r : host.log) fprintf(stderr, "%s\n", r.text.c_str());
    return 1;
  }
  fputs(replay::format(ys).c_str(), stdout);
  return 0;
}
