// The yardstick of update_bench: a C++ hello world built with the program's
// own flags, whose start-up is the least any C++ program here can cost.
#include <iostream>

int main() {
  std::cout << "hello, world\n";
  return 0;
}
