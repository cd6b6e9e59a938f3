#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram("shoot_a1", zanfel::RunShootA1);
}
