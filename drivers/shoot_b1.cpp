#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram("shoot_b1", zanfel::RunShootB1);
}
