#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  const bool resume = zanfel::ResumeRequested(argc, argv);
  return zanfel::RunProgram("shoot_b2", resume ? zanfel::ResumeShootB2 : zanfel::RunShootB2);
}
