// Save removal after a successful patch: every save file of every profile in every data
// directory the game may use, except those ending with the keep marker.
#pragma once

#include <string>

namespace vard {

// install_path: the normalised installation folder; product: the word naming the game's
// folder in the shared application data folder ("KORAX"). Reports nothing.
void RemoveSaves(const std::wstring& install_path, const std::wstring& product);

}  // namespace vard
