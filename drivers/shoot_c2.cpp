#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram("shoot_c2", zanfel::RunShootC2);
}
