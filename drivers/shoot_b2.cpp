#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram("shoot_b2", zanfel::RunShootB2, zanfel::ResumeShootB2, argc, argv);
}
