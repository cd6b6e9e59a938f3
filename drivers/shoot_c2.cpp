#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  const bool resume = zanfel::ResumeRequested(argc, argv);
  return zanfel::RunProgram("shoot_c2", resume ? zanfel::ResumeShootC2 : zanfel::RunShootC2);
}
