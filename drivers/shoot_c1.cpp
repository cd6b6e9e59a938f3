#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram("shoot_c1", zanfel::RunShootC1);
}
