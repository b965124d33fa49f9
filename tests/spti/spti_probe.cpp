// The Wine tests' probe (tests/wine/qvprobe.cpp), kept running: each line on
// standard input is one of its command lines ("dump", "row X Y WIDTH",
// "endsession HWND"), answered on standard output and closed by a line
// "end". Inside an emulated guest every Wine process start costs seconds;
// one probe serves a whole run.
#define main qvprobe_main
#include "tests/wine/qvprobe.cpp"
#undef main

#include <cstring>

int main() {
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    char* argv[8] = {const_cast<char*>("qvprobe")};
    int argc = 1;
    for (char* word = std::strtok(line, " \r\n"); word != nullptr && argc < 8;
         word = std::strtok(nullptr, " \r\n")) {
      argv[argc++] = word;
    }
    qvprobe_main(argc, argv);
    std::printf("end\n");
    std::fflush(stdout);
  }
  return 0;
}
