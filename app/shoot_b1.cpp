#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram("shoot_b1", zanfel::RunShootB1, zanfel::ResumeShootB1,
                            zanfel::SettingsErrorB1, argc, argv);
}
