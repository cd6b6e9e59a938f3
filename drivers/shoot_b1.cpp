#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  const bool resume = zanfel::ResumeRequested(argc, argv);
  return zanfel::RunProgram("shoot_b1", resume ? zanfel::ResumeShootB1 : zanfel::RunShootB1);
}
