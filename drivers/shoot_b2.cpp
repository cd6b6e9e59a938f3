#include "drivers/programs.hpp"

int main() {
  return zanfel::RunProgram(zanfel::RunShootB2);
}
