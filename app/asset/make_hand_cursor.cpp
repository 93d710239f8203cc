// Writes the hand pointer file: make_hand_cursor <output path>
#include <cstdio>
#include <fstream>

#include "app/hand_cursor.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_hand_cursor <output path>\n");
    return 2;
  }
  const std::string bytes = app::HandCursorFile();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_hand_cursor: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
