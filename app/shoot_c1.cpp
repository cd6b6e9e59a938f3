#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram(
      {zanfel::InfoShootC1(), zanfel::RunShootC1, zanfel::ResumeShootC1, zanfel::SettingsErrorC1},
      argc, argv);
}
