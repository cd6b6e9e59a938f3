#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram("shoot_a2", zanfel::RunShootA2);
}
