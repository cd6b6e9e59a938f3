#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  if (zanfel::ResumeRequested(argc, argv))
    return zanfel::RefuseResume("shoot_a1");
  return zanfel::RunProgram("shoot_a1", zanfel::RunShootA1);
}
