// The per-user folder of COM aliases.
//
// Serial ports keep Windows names (COM1 to COM99). Besides the names derived
// from Linux device names, a user (or the instrument simulator) can name a
// port by a symbolic link in this folder: COM7 -> /dev/pts/4. An alias
// overrides a derived name.
//
// Folder: "ports" in RuntimeDirectory(), so $XDG_RUNTIME_DIR/korva/ports
// when the session has one (ptys and the simulator live only as long as the
// session), else $HOME/.korva/ports. Links are used only while that folder
// and the one above it belong to the user and nobody else may write there.
// Thread: any.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

std::string PortAliasDirectory();

// True for "COM1" .. "COM99" (no leading zero).
bool IsComName(const std::string& name);

// Creates the link `comName` -> `target`, creating the folder (mode 0700) if
// needed. ERROR_ALREADY_EXISTS if the alias exists and points elsewhere;
// ERROR_INVALID_PARAMETER for a name that is not a COM name.
uint32_t RegisterPortAlias(const std::string& comName, const std::string& target);
// Removes the alias; with `expectedTarget` only if it still points there (so
// a program never removes an alias another program has taken over).
uint32_t RemovePortAlias(const std::string& comName, const std::string& expectedTarget = "");
// The aliases of the folder: (COM name, target), sorted by COM number; a
// relative target is returned joined to the folder. Entries that are not
// symbolic links or not COM names are skipped; a folder that fails the
// owner and mode checks yields none.
std::vector<std::pair<std::string, std::string>> ListPortAliases();
// The first COM number from `first` to 99 that has no alias; 0 if none.
int FreeAliasNumber(int first);

}  // namespace platform
