#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram(
      {zanfel::InfoShootB2(), zanfel::RunShootB2, zanfel::ResumeShootB2, zanfel::SettingsErrorB2},
      argc, argv);
}
