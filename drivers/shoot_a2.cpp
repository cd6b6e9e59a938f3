#include "drivers/programs.hpp"

int main(int argc, char **argv) {
  if (zanfel::ResumeRequested(argc, argv))
    return zanfel::RefuseResume("shoot_a2");
  return zanfel::RunProgram("shoot_a2", zanfel::RunShootA2);
}
