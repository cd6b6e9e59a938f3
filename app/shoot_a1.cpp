#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram(
      {zanfel::InfoShootA1(), zanfel::RunShootA1, nullptr, zanfel::SettingsErrorA1}, argc, argv);
}
