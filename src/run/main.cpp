// Process entry of the patcher: a GUI program with no arguments. Every orderly outcome,
// refusals and errors shown to the player included, exits with code 0.
#include <windows.h>

#include "run/run_patch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  vard::RunGuarded();
  return 0;
}
