#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram(
      {zanfel::InfoShootB1(), zanfel::RunShootB1, zanfel::ResumeShootB1, zanfel::SettingsErrorB1},
      argc, argv);
}
