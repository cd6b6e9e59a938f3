#include "app/run_program.hpp"
#include "continuation/families.hpp"

int main(int argc, char **argv) {
  return zanfel::RunProgram(
      {zanfel::InfoShootA2(), zanfel::RunShootA2, nullptr, zanfel::SettingsErrorA2}, argc, argv);
}
