#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram("shoot_b2", zanfel::RunShootB2);
}
