#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram("shoot_a1", zanfel::RunShootA1, nullptr, argc, argv);
}
