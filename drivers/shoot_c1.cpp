#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  const bool resume = zanfel::ResumeRequested(argc, argv);
  return zanfel::RunProgram("shoot_c1", resume ? zanfel::ResumeShootC1 : zanfel::RunShootC1);
}
