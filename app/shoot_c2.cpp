#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram(
      {zanfel::InfoShootC2(), zanfel::RunShootC2, zanfel::ResumeShootC2, zanfel::SettingsErrorC2},
      argc, argv);
}
